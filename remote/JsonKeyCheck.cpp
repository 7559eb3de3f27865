#include "remote/JsonKeyCheck.h"

#include <QSet>
#include <QString>
#include <QVector>

namespace {

// Deeper nesting than the parser accepts needs no look: it is refused anyway.
constexpr int kMaxDepth = 2048;

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Decodes the string that starts after the opening quote at `pos`; leaves `pos` after the
// closing quote. False when the text is not a well-formed string.
bool readString(const QByteArray& s, int& pos, QString* out)
{
    QByteArray run;
    out->clear();
    while (pos < s.size()) {
        const char c = s.at(pos++);
        if (c == '"') {
            out->append(QString::fromUtf8(run));
            return true;
        }
        if (c != '\\') {
            run.append(c);
            continue;
        }
        if (pos >= s.size())
            return false;
        const char e = s.at(pos++);
        char plain = 0;
        switch (e) {
        case '"':
            plain = '"';
            break;
        case '\\':
            plain = '\\';
            break;
        case '/':
            plain = '/';
            break;
        case 'b':
            plain = '\b';
            break;
        case 'f':
            plain = '\f';
            break;
        case 'n':
            plain = '\n';
            break;
        case 'r':
            plain = '\r';
            break;
        case 't':
            plain = '\t';
            break;
        case 'u': {
            if (pos + 4 > s.size())
                return false;
            int unit = 0;
            for (int i = 0; i < 4; ++i) {
                const int h = hexValue(s.at(pos + i));
                if (h < 0)
                    return false;
                unit = unit * 16 + h;
            }
            pos += 4;
            out->append(QString::fromUtf8(run));
            run.clear();
            out->append(QChar(ushort(unit)));
            continue;
        }
        default:
            return false;
        }
        run.append(plain);
    }
    return false;
}

struct Frame
{
    bool isObject = false;
    bool expectKey = false;
    QSet<QString> keys;
};

} // namespace

bool hasDuplicateJsonKeys(const QByteArray& json)
{
    QVector<Frame> stack;
    QString text;
    for (int pos = 0; pos < json.size();) {
        const char c = json.at(pos++);
        switch (c) {
        case '"': {
            if (!readString(json, pos, &text))
                return false;
            if (!stack.isEmpty() && stack.last().isObject && stack.last().expectKey) {
                Frame& top = stack.last();
                if (top.keys.contains(text))
                    return true;
                top.keys.insert(text);
                top.expectKey = false;
            }
            break;
        }
        case '{':
        case '[':
            if (stack.size() >= kMaxDepth)
                return false;
            stack.append(Frame{c == '{', c == '{', {}});
            break;
        case '}':
        case ']':
            if (stack.isEmpty())
                return false;
            stack.removeLast();
            break;
        case ',':
            if (!stack.isEmpty() && stack.last().isObject)
                stack.last().expectKey = true;
            break;
        default:
            break; // white space, numbers, literals, colons
        }
    }
    return false;
}
