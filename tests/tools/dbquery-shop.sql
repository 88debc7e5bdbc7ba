-- dbquery's cases: a column of each kind, a text with a TAB, a CR, an LF
-- and a backslash, and Null values. Plain SQLite SQL for dbquery --init.
CREATE TABLE [Master] ([Service] TEXT COLLATE NOCASE, [ACTAP] SHORT, [AP] CURRENCY, [CANADA] YESNO,
                       [Last] DATETIME, [Notes] TEXT COLLATE NOCASE);
INSERT INTO [Master] VALUES
  ('FEDEX-GND', 30, 0.5, -1, '2009-01-02 10:30:00', 'tab' || char(9) || 'cr' || char(13) || 'lf' || char(10) || 'back\slash'),
  ('UPS-GND', NULL, -2147483633, 0, NULL, '');
