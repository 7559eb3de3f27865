#include "remote/LineFramer.h"

#include <QRandomGenerator>
#include <QTest>

class tst_LineFramer : public QObject
{
    Q_OBJECT

private:
    static QList<QByteArray> drain(LineFramer& framer)
    {
        QList<QByteArray> lines;
        QByteArray line;
        while (framer.takeLine(&line) == LineFramer::Result::Line)
            lines.append(line);
        return lines;
    }

private slots:
    void lineLengthLimit()
    {
        const int max = LineFramer::MaxLineBytes;
        LineFramer framer;
        QByteArray line;
        // Exactly the limit, arriving in pieces, is still a line.
        framer.append(QByteArray(max - 10, 'x'));
        QCOMPARE(framer.takeLine(&line), LineFramer::Result::NoLine);
        framer.append(QByteArray(10, 'y') + "\nnext");
        QCOMPARE(framer.takeLine(&line), LineFramer::Result::Line);
        QCOMPARE(line.size(), max);
        QCOMPARE(framer.takeLine(&line), LineFramer::Result::NoLine);

        // One byte more without a line feed is refused at once...
        LineFramer open;
        open.append(QByteArray(max + 1, 'x'));
        QCOMPARE(open.takeLine(&line), LineFramer::Result::Overflow);
        // ...and so is a too long line that came with its line feed in one piece.
        LineFramer closed;
        closed.append("ok\n" + QByteArray(max + 1, 'x') + "\n");
        QCOMPARE(closed.takeLine(&line), LineFramer::Result::Line);
        QCOMPARE(line, QByteArray("ok"));
        QCOMPARE(closed.takeLine(&line), LineFramer::Result::Overflow);
    }

    // Lines come out exactly as a plain split would cut them, however the bytes arrive
    // and however reading and taking interleave (the framer compacts its storage lazily).
    void matchesPlainSplitForRandomChunks()
    {
        QRandomGenerator random(20240611);
        for (int round = 0; round < 200; ++round) {
            QByteArray stream;
            const int lineCount = int(random.bounded(1, 60));
            for (int i = 0; i < lineCount; ++i) {
                const int length = int(random.bounded(0, 300));
                for (int j = 0; j < length; ++j) {
                    const int c = int(random.bounded(0, 256));
                    stream.append(char(c == '\n' ? 'n' : c));
                }
                stream.append('\n');
            }
            stream.append("tail");
            QList<QByteArray> expected = stream.split('\n');
            expected.removeLast();

            LineFramer framer;
            QList<QByteArray> got;
            for (int pos = 0; pos < stream.size();) {
                const int chunk = int(random.bounded(1, 700));
                framer.append(stream.mid(pos, chunk));
                pos += chunk;
                if (random.bounded(2) == 0)
                    got += drain(framer);
            }
            got += drain(framer);
            QCOMPARE(got, expected);
            QCOMPARE(framer.size(), 4);
        }
    }
};

QTEST_APPLESS_MAIN(tst_LineFramer)
#include "tst_lineframer.moc"
