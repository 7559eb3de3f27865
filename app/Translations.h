#pragma once

#include <QScopedPointer>
#include <QString>
#include <QStringList>

class QTranslator;

// The interface language. The program's texts are written partly in Chinese (tray, notices,
// status) and partly in English (pages, dialogs); a user whose languages include Simplified
// Chinese or English gets the whole interface in that language, anyone else the texts as written.
// The translations live as long as this object, which must outlive every window.
class Translations final
{
public:
    Translations();
    ~Translations();
    Translations(const Translations&) = delete;
    Translations& operator=(const Translations&) = delete;

    // The first of the user's languages (most preferred first, as QLocale::uiLanguages gives
    // them) that the program speaks: "zh_CN" for Simplified Chinese, "en" for English, or an
    // empty string. Traditional Chinese is not Simplified Chinese and is passed over.
    static QString chooseLanguage(const QStringList& uiLanguages);

    // Installs the program's translation for the chosen language, with Qt's own for the standard
    // dialogs, replacing what an earlier call installed. Returns the language, or empty.
    QString install(const QStringList& uiLanguages);

private:
    QScopedPointer<QTranslator> m_program;
    QScopedPointer<QTranslator> m_qt;
};
