#pragma once

#include <QMap>
#include <QStringList>
#include <QtGlobal>

// Records every log line while it lives (one recorder at a time); all but debug lines are still
// printed, so an unexpected warning shows in the test output.
class LogCapture
{
public:
    LogCapture()
    {
        s_messages.clear();
        s_previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext& context, const QString& text) {
                s_messages[type].append(text);
                if (s_previous != nullptr && type != QtDebugMsg)
                    s_previous(type, context, text);
            });
    }
    ~LogCapture() { qInstallMessageHandler(s_previous); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QStringList messages(QtMsgType type = QtDebugMsg) const { return s_messages.value(type); }
    // Lines of any level that contain the text.
    int count(const QString& text) const
    {
        int total = 0;
        for (const QStringList& lines : qAsConst(s_messages))
            total += lines.filter(text).size();
        return total;
    }
    QStringList daoErrors() const { return messages().filter(QStringLiteral("**Debug** Dao Error: ")); }

private:
    static inline QMap<QtMsgType, QStringList> s_messages;
    static inline QtMessageHandler s_previous = nullptr;
};
