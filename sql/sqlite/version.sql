-- The version of each schema a database holds (Name "mgt" or "fee"), so a
-- later release knows which of its upgrades to apply.
CREATE TABLE IF NOT EXISTS SchemaVersion (
  Name TEXT NOT NULL PRIMARY KEY,
  Version INTEGER NOT NULL
);
