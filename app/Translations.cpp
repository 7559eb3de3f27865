#include "app/Translations.h"

#include <QCoreApplication>
#include <QDebug>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

// Outside any namespace, as Q_INIT_RESOURCE requires. The compiled translations sit in a static
// library; referencing them keeps them linked.
static void initTranslationResources()
{
    Q_INIT_RESOURCE(translations);
}

Translations::Translations() = default;

Translations::~Translations() = default; // a QTranslator removes itself from the application

QString Translations::chooseLanguage(const QStringList& uiLanguages)
{
    for (const QString& name : uiLanguages) {
        const QLocale locale(name);
        if (locale.language() == QLocale::English)
            return QStringLiteral("en");
        if (locale.language() == QLocale::Chinese && locale.script() != QLocale::TraditionalChineseScript)
            return QStringLiteral("zh_CN");
    }
    return QString();
}

QString Translations::install(const QStringList& uiLanguages)
{
    m_program.reset();
    m_qt.reset();
    const QString language = chooseLanguage(uiLanguages);
    if (language.isEmpty()) {
        qInfo().noquote() << QStringLiteral("Interface language: as written (none of %1 is translated)")
                                 .arg(uiLanguages.join(QLatin1Char(',')));
        return language;
    }

    initTranslationResources();
    m_program.reset(new QTranslator);
    if (m_program->load(QStringLiteral(":/translations/velmora_") + language))
        QCoreApplication::installTranslator(m_program.data());
    else
        qWarning().noquote() << "Translation missing from the program:" << language;

    // Qt's own texts (file dialog buttons and the like); English needs none.
    if (language != QLatin1String("en")) {
        m_qt.reset(new QTranslator);
        if (m_qt->load(QStringLiteral("qtbase_") + language,
                       QLibraryInfo::location(QLibraryInfo::TranslationsPath)))
            QCoreApplication::installTranslator(m_qt.data());
    }
    qInfo().noquote() << "Interface language:" << language;
    return language;
}
