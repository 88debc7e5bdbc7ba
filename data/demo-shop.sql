-- The demo shop: the database of a shipping counter with its table of services
-- [Master] and its service buttons [Panel]. FEDEX-GND is the ground service
-- that new ground services are cloned from. The other carriers are invented.
-- Yes/No columns hold 0 (No) or -1 (Yes), dates are text YYYY-MM-DD HH:MM:SS.

CREATE TABLE [Master] (
  [Service] TEXT(20) COLLATE NOCASE NOT NULL PRIMARY KEY,
  [Shipper#] LONG DEFAULT 0,
  [Carrier] TEXT(20) COLLATE NOCASE,
  [Type] TEXT(20) COLLATE NOCASE,
  [ZONE-TBL] TEXT(30) COLLATE NOCASE,
  [DESCRIPTION] TEXT(50) COLLATE NOCASE,
  [PosDept] TEXT(20) COLLATE NOCASE,
  [UPSCODE] TEXT(4) COLLATE NOCASE,
  [ServiceIndicator] TEXT(4) COLLATE NOCASE,
  [ServiceIcon] TEXT(64) COLLATE NOCASE,
  [CANADA] YESNO DEFAULT 0,
  [ACTCOD] CURRENCY DEFAULT 0,
  [COD] CURRENCY DEFAULT 0,
  [ACTDELC] CURRENCY DEFAULT 0,
  [ACK] CURRENCY DEFAULT 0,
  [ACTDELSIG] CURRENCY DEFAULT 0,
  [ACK-S] CURRENCY DEFAULT 0,
  [ACTFuel] DOUBLE DEFAULT 0,
  [Fuel] DOUBLE DEFAULT 0,
  [RETAIL] SHORT DEFAULT 0,
  [ACTDVBASE] CURRENCY DEFAULT 0,
  [DVRateUpTo] CURRENCY DEFAULT 0,
  [DVRateUpToCost] CURRENCY DEFAULT 0,
  [DVRateUpToCharge] CURRENCY DEFAULT 0,
  [ACTDVINC] CURRENCY DEFAULT 0,
  [ACTDECVAL] CURRENCY DEFAULT 0,
  [DV] CURRENCY DEFAULT 0,
  [ABResCost] CURRENCY DEFAULT 0,
  [ABResCharge] CURRENCY DEFAULT 0,
  [USEDIMWEIGHT] YESNO DEFAULT 0,
  [SaturdayDelivery] YESNO DEFAULT 0,
  [SaturdayPickup] YESNO DEFAULT 0,
  [FreightService] YESNO DEFAULT 0,
  [ResidentialService] YESNO DEFAULT 0,
  [LetterExpress] YESNO DEFAULT 0,
  [PopupEnabled] YESNO DEFAULT 0,
  [DontRequireConsignee] YESNO DEFAULT 0,
  [DontRequireShipper] YESNO DEFAULT 0,
  [Disabled] YESNO DEFAULT 0,
  [Kiosk] YESNO DEFAULT 0,
  [AIR] YESNO DEFAULT 0,
  [ABSATRED] CURRENCY DEFAULT 0,
  [ABSATPURED] CURRENCY DEFAULT 0,
  [ABSATBLACK] CURRENCY DEFAULT 0,
  [ABSATPUBLACK] CURRENCY DEFAULT 0,
  [ABCANUpToCostAP] LONG DEFAULT 0,
  [ABCANUpToChargeAP] LONG DEFAULT 0,
  [ABBlackResCost] SHORT DEFAULT 0,
  [ABBlackResCharge] SHORT DEFAULT 0,
  [ACTAP] SHORT DEFAULT 0,
  [AP] SHORT DEFAULT 0,
  [TransitDays] SHORT,
  [MinCharge] CURRENCY,
  [MaxWeightKg] DOUBLE,
  [SortOrder] BYTE,
  [LastUpdated] DATETIME,
  [Notes] LONGTEXT COLLATE NOCASE
);

INSERT INTO [Master] VALUES
-- Service      Shipper# Carrier    Type       ZONE-TBL     DESCRIPTION                  PosDept    UPSCODE Ind  Icon
  ('FEDEX-GND',  1, 'GROUND',  'GROUND',  'FEDEX-GND', 'Ground Parcel',              'GROUND',  '03', 'G', 'ground.bmp',
-- CANADA ACTCOD COD  ACTDELC ACK  ACTDELSIG ACK-S ACTFuel Fuel RETAIL
   0,     9.00, 12.50, 1.10, 2.50, 3.75,    5.00, 8.5,   10.0, 25,
-- ACTDVBASE DVRateUpTo DVRateUpToCost DVRateUpToCharge ACTDVINC ACTDECVAL DV  ABResCost ABResCharge
   100,      300,       2.95,          4.50,            100,     0.95,     1.50, 4.80,  6.50,
-- USEDIMWEIGHT SatDel SatPU Freight Resid Letter Popup NoConsignee NoShipper Disabled Kiosk AIR
   -1,          0,     0,    0,      -1,   0,     0,    0,          -1,       0,       0,    0,
-- ABSATRED ABSATPURED ABSATBLACK ABSATPUBLACK ABCANUpToCostAP ABCANUpToChargeAP ABBlackResCost ABBlackResCharge ACTAP AP
   0,       0,         0,         0,           0,              0,                0,             0,               0,    0,
-- TransitDays MinCharge MaxWeightKg SortOrder LastUpdated            Notes
   5,          8.95,     68.0,       1,        '2024-03-01 09:30:00', 'Template for new ground services: copy it and change the carrier''s own columns.'),

  ('KSTL-GND',   2, 'KESTREL', 'KESTREL', 'KSTL-GND', 'Kestrel Ground',             'KESTREL', '03', 'G', 'kestrel.bmp',
   0,     8.50, 11.95, 1.05, 2.25, 3.60,    4.75, 9.25,  11.0, 20,
   100,      300,       2.80,          4.25,            100,     0.90,     1.40, 4.95,  6.25,
   -1,          0,     0,    0,      -1,   0,     0,    0,          -1,       0,       0,    0,
   0,       0,         0,         0,           0,              0,                0,             0,               0,    0,
   5,          8.75,     68.0,       2,        '2024-02-12 14:05:00', 'Daily pickup at 16:30.'),

  ('KSTL-2DA',   2, 'KESTREL', 'KESTREL', 'KSTL-2DA', 'Kestrel 2nd Day Air',        'KESTREL', '02', 'A', 'kestrel.bmp',
   0,     8.50, 11.95, 1.05, 2.25, 3.60,    4.75, 11.5,  13.0, 30,
   100,      300,       2.80,          4.25,            100,     0.90,     1.40, 4.95,  6.25,
   -1,          0,     0,    0,      -1,   0,     0,    0,          -1,       0,       0,    -1,
   0,       0,         16.00,     16.00,       0,              0,                0,             0,               0,    0,
   2,          18.40,    68.0,       3,        '2024-02-12 14:05:00', NULL),

  ('KSTL-NDA',   2, 'KESTREL', 'KESTREL', 'KSTL-NDA', 'Kestrel Next Day Air',       'KESTREL', '01', 'R', 'kestrel.bmp',
   0,     8.50, 11.95, 1.05, 2.25, 3.60,    4.75, 11.5,  13.0, 35,
   100,      300,       2.80,          4.25,            100,     0.90,     1.40, 4.95,  6.25,
   -1,          -1,    -1,   0,      -1,   0,     -1,   0,          -1,       0,       0,    -1,
   16.00,   16.00,     0,         0,           0,              0,                0,             0,               0,    0,
   1,          31.25,    68.0,       4,        '2024-02-12 14:05:00', 'Saturday delivery on request, ask for the pickup window.'),

  ('KSTL-CAN',   2, 'KESTREL', 'KESTREL', 'KSTL-CAN', 'Kestrel Standard to Canada', 'KESTREL', '11', 'C', 'kestrel.bmp',
   -1,    0,    0,     1.05, 2.25, 3.60,    4.75, 9.25,  11.0, 20,
   100,      100,       3.10,          4.75,            100,     1.10,     1.60, 0,     0,
   -1,          0,     0,    0,      0,    0,     -1,   0,          0,        0,       0,    0,
   0,       0,         0,         0,           34,             40,               0,             0,               0,    0,
   6,          24.50,    68.0,       5,        '2023-11-20 10:00:00', 'Commercial invoice needed above 2,500 CAD.'),

  ('POSTA-PRI',  0, 'POSTA',   'POSTA',   'POSTA-PRI', 'Posta Priority Parcel',     'POSTAL',  '',   'P', 'posta.bmp',
   0,     10.65, 12.95, 0.00, 0.00, 2.95,    3.50, 0.0,   0.0,  15,
   0,        0,         0,             0,               100,     0,        2.35, 0,     0,
   0,           0,     0,    0,      0,    0,     0,    0,          -1,       0,       -1,   0,
   0,       0,         0,         0,           0,              0,                0,             0,               0,    0,
   3,          9.35,     31.75,      6,        '2024-01-22 08:15:00', NULL),

  ('POSTA-FCL',  0, 'POSTA',   'POSTA',   'POSTA-FCL', 'Posta First-Class Letter',  'POSTAL',  '',   'L', 'posta.bmp',
   0,     0,    0,     0.00, 0.00, 0,       0,    0.0,   0.0,  0,
   0,        0,         0,             0,               0,       0,        0,    0,     0,
   0,           0,     0,    0,      0,    -1,    0,    -1,         -1,       0,       -1,   0,
   0,       0,         0,         0,           0,              0,                0,             0,               0,    0,
   4,          0.68,     0.4,        7,        '2024-01-22 08:15:00', 'Letters and flats only.'),

  ('BRX-FRT',    3, 'BRIXTON', 'FREIGHT', 'BRX-FRT',  'Brixton Freight LTL',        'FREIGHT', '',   'F', 'brixton.bmp',
   0,     0,    0,     0.00, 0.00, 12.00,   15.00, 14.0, 16.0, 10,
   500,      1000,      9.50,          12.00,           500,     4.75,     6.00, 35.00, 45.00,
   -1,          0,     0,    -1,     -1,   0,     -1,   0,          0,        0,       0,    0,
   0,       0,         0,         0,           0,              0,                38,            38,              0,    0,
   4,          145.00,   4500.0,     8,        '2023-09-05 16:45:00', 'Pallets only. Lift gate and inside delivery are charged on the bill of lading.'),

  ('BRX-ECO',    3, 'BRIXTON', 'BRIXTON', 'BRX-ECO',  'Brixton Economy',            'BRIXTON', '',   'E', 'brixton.bmp',
   0,     8.00, 10.00, 1.00, 2.00, 3.00,    4.00, 7.5,   9.0,  15,
   100,      200,       2.50,          3.75,            100,     0.85,     1.25, 3.95,  5.25,
   0,           0,     0,    0,      -1,   0,     0,    0,          0,        -1,      0,    0,
   0,       0,         0,         0,           0,              0,                0,             0,               0,    0,
   7,          7.50,     30.0,       9,        '2022-06-30 12:00:00', 'Withdrawn by the carrier, kept for the history of old shipments.');

CREATE TABLE [Panel] (
  [PanelIndex] LONG NOT NULL PRIMARY KEY,
  [BD1] TEXT(30) COLLATE NOCASE, [BD2] TEXT(30) COLLATE NOCASE, [BD3] TEXT(30) COLLATE NOCASE,
  [BD4] TEXT(30) COLLATE NOCASE, [BD5] TEXT(30) COLLATE NOCASE, [BD6] TEXT(30) COLLATE NOCASE,
  [BD7] TEXT(30) COLLATE NOCASE,
  [SV1] TEXT(20) COLLATE NOCASE, [SV2] TEXT(20) COLLATE NOCASE, [SV3] TEXT(20) COLLATE NOCASE,
  [SV4] TEXT(20) COLLATE NOCASE, [SV5] TEXT(20) COLLATE NOCASE, [SV6] TEXT(20) COLLATE NOCASE,
  [SV7] TEXT(20) COLLATE NOCASE,
  [Domestic] SHORT DEFAULT 1,
  [Icon] SHORT DEFAULT 0,
  [Message] TEXT(50) COLLATE NOCASE,
  [ForeColor] LONG DEFAULT 0,
  [BackColor] LONG DEFAULT -2147483633
);

INSERT INTO [Panel] ([PanelIndex], [BD1], [BD2], [BD3], [SV1], [SV2], [SV3], [Domestic], [Icon], [Message], [ForeColor], [BackColor]) VALUES
  (1, 'Ground Parcel', 'Kestrel Ground', 'Brixton Freight', 'FEDEX-GND', 'KSTL-GND', 'BRX-FRT', 1, 4, 'Domestic', 0, -2147483633),
  (2, 'Next Day Air', '2nd Day Air', NULL, 'KSTL-NDA', 'KSTL-2DA', NULL, 1, 2, 'Domestic', 0, 12648447),
  (3, 'Priority Parcel', 'First-Class Letter', NULL, 'POSTA-PRI', 'POSTA-FCL', NULL, 1, 3, 'Domestic', 0, -2147483633),
  (4, 'Standard to Canada', NULL, NULL, 'KSTL-CAN', NULL, NULL, 0, 5, 'International', 16777215, 8388608);
