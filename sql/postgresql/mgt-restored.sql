-- Run by a restore after the rows are in: the identity columns go on from
-- the highest number restored, not from 1.
SELECT setval(pg_get_serial_sequence('umusraddinst', 'uai_no'), COALESCE(MAX(uai_no), 0) + 1, false) FROM umUsrAddInst;
SELECT setval(pg_get_serial_sequence('umusrsecinst', 'usi_no'), COALESCE(MAX(usi_no), 0) + 1, false) FROM umUsrSecInst;
