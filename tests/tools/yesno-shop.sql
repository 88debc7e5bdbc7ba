-- A shop whose [Panel].Domestic, [Master].ACTAP and [Master].AP are Yes/No
-- columns (stored as -1 for True, 0 for False) and whose template service
-- holds a zero-length binary value. Plain SQLite SQL for dbquery --init.
CREATE TABLE [Master] (
  [Service] TEXT(20) COLLATE NOCASE NOT NULL PRIMARY KEY,
  [Shipper#] LONG DEFAULT 0,
  [Carrier] TEXT(20) COLLATE NOCASE,
  [Type] TEXT(20) COLLATE NOCASE,
  [ZONE-TBL] TEXT(30) COLLATE NOCASE,
  [CANADA] YESNO DEFAULT 0,
  [ACTDECVAL] CURRENCY DEFAULT 0,
  [ACTAP] YESNO DEFAULT 0,
  [AP] YESNO DEFAULT 0,
  [Logo] BLOB,
  [LastUpdated] DATETIME
);
INSERT INTO [Master] VALUES
  ('FEDEX-GND', 1, 'GROUND', 'GROUND', 'FEDEX-GND', 0, 0.95, 0, 0, x'', '2024-03-01 09:30:00'),
  ('KSTL-GND', 2, 'KESTREL', 'KESTREL', 'KSTL-GND', 0, 0.90, -1, -1, x'89504E47', '2024-02-12 14:05:00');

CREATE TABLE [Panel] (
  [PanelIndex] LONG NOT NULL PRIMARY KEY,
  [BD1] TEXT(30) COLLATE NOCASE, [BD2] TEXT(30) COLLATE NOCASE,
  [SV1] TEXT(20) COLLATE NOCASE, [SV2] TEXT(20) COLLATE NOCASE, [SV3] TEXT(20) COLLATE NOCASE,
  [SV4] TEXT(20) COLLATE NOCASE, [SV5] TEXT(20) COLLATE NOCASE, [SV6] TEXT(20) COLLATE NOCASE,
  [SV7] TEXT(20) COLLATE NOCASE,
  [Domestic] YESNO DEFAULT -1,
  [Icon] SHORT DEFAULT 0,
  [Message] TEXT(50) COLLATE NOCASE,
  [ForeColor] LONG DEFAULT 0,
  [BackColor] LONG DEFAULT -2147483633
);
INSERT INTO [Panel] ([PanelIndex], [BD1], [BD2], [SV1], [SV2], [Domestic], [Icon], [Message]) VALUES
  (1, 'Ground Parcel', 'Kestrel Ground', 'FEDEX-GND', 'KSTL-GND', -1, 4, 'Domestic');
