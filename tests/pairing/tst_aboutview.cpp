#include "app/DemoApp.h"
#include "pairing/ConnectionQrCode.h"
#include "pairing/ServerPortProvider.h"
#include "ui/AboutView.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <QZXing.h>

namespace {

QString decode(const QPixmap& pixmap)
{
    QZXing decoder;
    decoder.setDecoder(QZXing::DecoderFormat_QR_CODE);
    return decoder.decodeImage(pixmap.toImage());
}

QComboBox* combo(AboutView& view)
{
    return view.findChild<QComboBox*>(QStringLiteral("cbConnAddress"));
}

QLabel* qrLabel(AboutView& view)
{
    return view.findChild<QLabel*>(QStringLiteral("lbQRCode"));
}

QString shownPayload(AboutView& view)
{
    return decode(qrLabel(view)->pixmap(Qt::ReturnByValue));
}

class PortWindow final : public QWidget, public ServerPortProvider
{
public:
    explicit PortWindow(int port)
        : m_port(port)
    {
    }
    int serverPort() const override { return m_port; }

private:
    int m_port;
};

} // namespace

class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls.append(url); }
};

class TestAboutView : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void addressesAndFirstCode();
    void comboSelectionDrivesCode();
    void portFromAncestorWindow();
    void linkButtons();
};

void TestAboutView::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    // The page creates the pairing token in the settings store: never the user's own.
    static QTemporaryDir settingsDir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
    ApplicationBase::setInstance(new DemoApp());
}

void TestAboutView::addressesAndFirstCode()
{
    AboutView view;
    const ConnectionAddressList addresses = view.collectConnectionAddresses();
    QComboBox* box = combo(view);
    QCOMPARE(box->count(), addresses.size());
    for (int i = 0; i < addresses.size(); ++i) {
        QCOMPARE(box->itemText(i), QStringLiteral("%1 (%2)").arg(addresses[i].first, addresses[i].second));
        QCOMPARE(box->itemData(i).toString(), addresses[i].first);
    }
    const QString preferred = view.preferredConnectionAddress(addresses);
    QCOMPARE(box->currentData().toString(), preferred);
    QCOMPARE(shownPayload(view), connectionPayload(preferred, 8888));

    // The label stretches the square code to 400 x 500; what is painted must still scan.
    view.resize(1100, 700);
    QCOMPARE(decode(qrLabel(view)->grab()), connectionPayload(preferred, 8888));
}

void TestAboutView::comboSelectionDrivesCode()
{
    AboutView view;
    QComboBox* box = combo(view);
    box->addItem(QStringLiteral("10.0.0.5 (Wi-Fi)"), QStringLiteral("10.0.0.5"));
    box->addItem(QStringLiteral("192.168.1.9 (Ethernet)"), QStringLiteral("192.168.1.9"));
    box->setCurrentIndex(box->count() - 2);
    QCOMPARE(shownPayload(view), connectionPayload(QStringLiteral("10.0.0.5"), 8888));
    box->setCurrentIndex(box->count() - 1);
    QCOMPARE(shownPayload(view), connectionPayload(QStringLiteral("192.168.1.9"), 8888));

    // Nothing selected: the machine is asked again rather than the old code kept.
    box->clear();
    const QString fallback = view.preferredConnectionAddress(view.collectConnectionAddresses());
    QCOMPARE(shownPayload(view), connectionPayload(fallback, 8888));
}

void TestAboutView::portFromAncestorWindow()
{
    // (reported by the window, advertised): nonsense ports fall back to the default.
    const QList<QPair<int, int>> cases{{9123, 9123}, {0, 8888}};
    for (const auto& c : cases) {
        PortWindow window(c.first);
        // The page sits in a stacked-widget page, not directly in the window.
        auto* view = new AboutView(new QWidget(&window));
        combo(*view)->addItem(QStringLiteral("10.0.0.5 (Wi-Fi)"), QStringLiteral("10.0.0.5"));
        combo(*view)->setCurrentIndex(combo(*view)->count() - 1);
        QCOMPARE(shownPayload(*view), connectionPayload(QStringLiteral("10.0.0.5"), c.second));
    }
}

void TestAboutView::linkButtons()
{
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &recorder, "open");
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &recorder, "open");
    AboutView view;
    view.findChild<QPushButton*>(QStringLiteral("btnDownloadMobileApp"))->click();
    QCOMPARE(recorder.urls, QList<QUrl>{QUrl(QStringLiteral("http://127.0.0.1:6888/"))});
    view.findChild<QPushButton*>(QStringLiteral("btnGotoWebsite"))->click();
    QCOMPARE(recorder.urls.size(), 2);
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
}

QTEST_MAIN(TestAboutView)
#include "tst_aboutview.moc"
