#include "remote/JsonKeyCheck.h"

#include <QSet>
#include <QString>

#include <cstring>
#include <memory>
#include <vector>

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

// A key as it stands in the text, after its opening quote.
struct Key
{
    int start = 0;
    int length = 0; // raw bytes, without the closing quote
    bool escaped = false;
};

struct Frame
{
    bool isObject = false;
    bool expectKey = false;
    int firstKey = 0; // index into the key list
    // Objects with many keys are checked through a set, so a huge one stays linear.
    std::unique_ptr<QSet<QString>> manyKeys;
};

constexpr int kLinearKeys = 16;

QString decoded(const QByteArray& json, const Key& key)
{
    int pos = key.start;
    QString text;
    readString(json, pos, &text);
    return text;
}

bool sameKey(const QByteArray& json, const Key& a, const Key& b)
{
    if (!a.escaped && !b.escaped)
        return a.length == b.length &&
               std::memcmp(json.constData() + a.start, json.constData() + b.start, size_t(a.length)) == 0;
    return decoded(json, a) == decoded(json, b);
}

// Skips the string after the opening quote at `pos`; false when it does not end.
bool skipString(const QByteArray& json, int& pos, bool* escaped)
{
    const char* data = json.constData();
    const int size = json.size();
    *escaped = false;
    while (pos < size) {
        const char c = data[pos++];
        if (c == '"')
            return true;
        if (c == '\\') {
            *escaped = true;
            ++pos;
        }
    }
    return false;
}

} // namespace

bool hasDuplicateJsonKeys(const QByteArray& json)
{
    std::vector<Frame> stack;
    std::vector<Key> keys;
    for (int pos = 0; pos < json.size();) {
        const char c = json.at(pos++);
        switch (c) {
        case '"': {
            Key key;
            key.start = pos;
            if (!skipString(json, pos, &key.escaped))
                return false;
            key.length = pos - 1 - key.start;
            if (stack.empty() || !stack.back().isObject || !stack.back().expectKey)
                break;
            Frame& top = stack.back();
            top.expectKey = false;
            if (key.escaped) {
                QString check;
                int at = key.start;
                if (!readString(json, at, &check))
                    return false; // a bad escape: the parser refuses the text
            }
            const int count = int(keys.size()) - top.firstKey;
            if (top.manyKeys) {
                const QString text = decoded(json, key);
                if (top.manyKeys->contains(text))
                    return true;
                top.manyKeys->insert(text);
                break;
            }
            for (int i = top.firstKey; i < int(keys.size()); ++i) {
                if (sameKey(json, keys[size_t(i)], key))
                    return true;
            }
            keys.push_back(key);
            if (count + 1 >= kLinearKeys) {
                top.manyKeys = std::make_unique<QSet<QString>>();
                for (int i = top.firstKey; i < int(keys.size()); ++i)
                    top.manyKeys->insert(decoded(json, keys[size_t(i)]));
            }
            break;
        }
        case '{':
        case '[':
            if (int(stack.size()) >= kMaxDepth)
                return false;
            stack.push_back(Frame{c == '{', c == '{', int(keys.size()), nullptr});
            break;
        case '}':
        case ']':
            if (stack.empty())
                return false;
            keys.resize(size_t(stack.back().firstKey));
            stack.pop_back();
            break;
        case ',':
            if (!stack.empty() && stack.back().isObject)
                stack.back().expectKey = true;
            break;
        default:
            break; // white space, numbers, literals, colons
        }
    }
    return false;
}
