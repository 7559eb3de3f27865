#include "remote/JsonKeyCheck.h"

#include <QTest>

// JSON written with single quotes, for readable test rows.
static QByteArray j(const char* text)
{
    return QByteArray(text).replace('\'', '"');
}

class tst_JsonKeyCheck : public QObject
{
    Q_OBJECT

private slots:
    void duplicates_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("duplicate");
        QTest::newRow("none") << j("{'command':'x','params':{'command':1}}") << false;
        QTest::newRow("top level") << j("{'params':{},'a':1,'params':{}}") << true;
        QTest::newRow("nested") << j("{'p':{'b':'r','c':[1,{'b':2}],'b':'s'}}") << true;
        QTest::newRow("objects in an array") << j("[{'a':1},{'a':2},{'b':{'a':[]},'a':3}]") << false;
        QTest::newRow("inside an array") << j("[1,{'a':{},'a':{}}]") << true;
        QTest::newRow("escaped spelling") << j("{'ab':1,'\\u0061b':2}") << true;
        QTest::newRow("escaped quote") << j("{'a\\'':1,'a':2,'a\\'':3}") << true;
        QTest::newRow("values look like keys") << j("{'a':'a','b':'{\\'a\\':1,','c':'a'}") << false;
        QTest::newRow("utf-8 and surrogates") << j("{'é😀':1,'\\u00e9\\ud83d\\ude00':2}") << true;
        QTest::newRow("malformed left to the parser") << j("{'a':1}},'a':2") << false;
        QTest::newRow("unterminated") << j("{'a':1,'a") << false;

        // Past a handful of keys the check switches to a set; it must stay fast and exact.
        QByteArray many = "{";
        for (int i = 0; i < 100000; ++i)
            many += "\"k" + QByteArray::number(i) + "\":" + QByteArray::number(i) + ",";
        QTest::newRow("many keys") << QByteArray(many + "\"end\":{}}") << false;
        QTest::newRow("many keys, last repeated") << QByteArray(many + "\"k7\":{}}") << true;
        QTest::newRow("many keys, escaped repeat") << QByteArray(many + "\"\\u006b99999\":0}") << true;
    }
    void duplicates()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, duplicate);
        QCOMPARE(hasDuplicateJsonKeys(json), duplicate);
    }
};

QTEST_APPLESS_MAIN(tst_JsonKeyCheck)
#include "tst_jsonkeycheck.moc"
