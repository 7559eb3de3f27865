#include "platform/ClipboardFake.h"

bool ClipboardFake::setText(const QString& text)
{
    if (!accepting)
        return false;
    read = ClipboardRead{ClipboardRead::Result::Text, text};
    return true;
}

void ClipboardFake::readText(qint64 maxBytes, ReadDone done)
{
    ++reads;
    if (read.result == ClipboardRead::Result::Text && read.text.toUtf8().size() > maxBytes)
        done(ClipboardRead{ClipboardRead::Result::TooLarge, QString()});
    else
        done(read);
}
