-- Installed and opened with the others; nothing writes to it yet.
CREATE TABLE Log (
    id      INTEGER PRIMARY KEY,
    time    TEXT,
    level   TEXT,
    message TEXT
);
