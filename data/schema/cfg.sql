-- Named configuration values ("audioPlayer", "videoPlayer", ...).
-- The key must be the table's integer row id: new keys are read back with lastInsertId.
-- Names are deliberately not unique; when a name repeats, the row with the higher dictId counts.
CREATE TABLE dict (
    dictId    INTEGER PRIMARY KEY,
    dictName  TEXT,
    dictDesc  TEXT,
    dictValue TEXT,
    sortNum   INTEGER
);
