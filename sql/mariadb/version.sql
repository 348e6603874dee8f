-- The version of each schema a database holds (Name "mgt" or "fee"), so a
-- later release knows which of its upgrades to apply.
CREATE TABLE IF NOT EXISTS SchemaVersion (
  Name VARCHAR(255) NOT NULL PRIMARY KEY,
  Version INT NOT NULL
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_nopad_bin;
