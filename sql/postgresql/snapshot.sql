-- Read by a backup before its transaction starts: every table it reads in
-- that transaction then shows the database as it was at its first read.
SET SESSION CHARACTERISTICS AS TRANSACTION ISOLATION LEVEL REPEATABLE READ;
