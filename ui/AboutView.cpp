#include "ui/AboutView.h"
#include "ui_AboutView.h"

#include "app/ApplicationBase.h"
#include "pairing/ConnectionQrCode.h"
#include "pairing/PairingToken.h"
#include "pairing/ServerPortProvider.h"
#include "platform/network/FirewallProbe.h"
#include "remote/PhoneAccess.h"

#include <QClipboard>
#include <QDebug>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QHeaderView>
#include <QIcon>
#include <QLocale>
#include <QTreeWidget>
#include <QUrl>

namespace {

const char kWebsiteUrl[] = "https://www.orvane.example/";
// The phone-side web client, served by the built-in HTTP server.
const char kMobileClientUrl[] = "http://127.0.0.1:6888/";
const QSize kQrImageSize(400, 400);
const QSize kWebQrImageSize(180, 180);

} // namespace

AboutView::AboutView(QWidget* parent)
    : ViewController(parent)
    , m_ui(new Ui::AboutView)
{
    m_ui->setupUi(this);
    ApplicationBase::applyStyleSheet(this, QStringLiteral("aboutview.css"), false);

    const QIcon appIcon(QStringLiteral(":/resources/ui/images/default/common/app.ico"));
    m_ui->lbAppIcon->setFixedSize(32, 32);
    m_ui->lbAppIcon->setPixmap(appIcon.pixmap(QSize(32, 32), QIcon::Normal, QIcon::Off));

    connect(m_ui->btnGotoWebsite, &QPushButton::clicked, this,
            [] { QDesktopServices::openUrl(QUrl(QString::fromLatin1(kWebsiteUrl))); });
    connect(m_ui->btnDownloadMobileApp, &QPushButton::clicked, this,
            [] { QDesktopServices::openUrl(QUrl(QString::fromLatin1(kMobileClientUrl))); });

    const ConnectionAddressList addresses = collectConnectionAddresses();
    m_ui->cbConnAddress->clear();
    for (const ConnectionAddress& entry : addresses)
        m_ui->cbConnAddress->addItem(QStringLiteral("%1 (%2)").arg(entry.first, entry.second), entry.first);
    const QString preferred = preferredConnectionAddress(addresses);
    if (!preferred.isEmpty()) {
        const int index =
            m_ui->cbConnAddress->findData(preferred, Qt::UserRole, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (index >= 0)
            m_ui->cbConnAddress->setCurrentIndex(index);
    }

    connect(m_ui->cbConnAddress, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this](int) {
        updateQRCode();
        updateWebClientQRCode();
    });
    updateQRCode();

    PairingToken* token = PairingToken::shared();
    connect(m_ui->btnRegenerateToken, &QPushButton::clicked, token, [token] { token->regenerate(); });
    connect(token, &PairingToken::tokenChanged, this, &AboutView::updateWebClientQRCode);
    updateWebClientQRCode();
    connectPhoneAccess();

    m_ui->frFirewall->hide();
    connect(m_ui->btnCopyFirewallCommand, &QPushButton::clicked, this,
            [this] { QGuiApplication::clipboard()->setText(m_ui->edFirewallCommand->text()); });
    setFirewallProbe(createFirewallProbe());
}

void AboutView::setFirewallProbe(std::unique_ptr<FirewallProbe> probe)
{
    m_firewallProbe = std::move(probe);
    if (!m_firewallProbe)
        return;
    connect(m_firewallProbe.get(), &FirewallProbe::finished, this, &AboutView::showFirewallAdvice);
    m_firewallProbe->probe();
}

void AboutView::showFirewallAdvice(const FirewallFacts& facts)
{
    const FirewallAdvice advice = adviseFirewall(facts);
    if (advice.verdict == FirewallAdvice::Open) {
        m_ui->frFirewall->hide();
        return;
    }
    const QString name =
        advice.firewall == FirewallAdvice::Ufw ? QStringLiteral("ufw") : QStringLiteral("firewalld");
    const QString hint =
        advice.verdict == FirewallAdvice::Blocked
            ? tr("The firewall (%1) keeps phones out of ports 8888 and 6888. To let them in, "
                 "run this in a terminal:")
            : tr("A firewall (%1) is on and may keep phones out of ports 8888 and 6888. If the "
                 "phone cannot connect, run this in a terminal:");
    m_ui->lbFirewallHint->setText(hint.arg(name));
    m_ui->edFirewallCommand->setText(advice.command);
    m_ui->edFirewallCommand->setCursorPosition(0);
    m_ui->frFirewall->show();
}

AboutView::~AboutView() = default;

void AboutView::connectPhoneAccess()
{
    PhoneAccess* access = PhoneAccess::shared();
    m_ui->chkLocalNetworkOnly->setChecked(access->localNetworkOnly());
    m_ui->chkAskNewPhones->setChecked(access->askBeforeNewPhone());
    connect(m_ui->chkLocalNetworkOnly, &QCheckBox::toggled, access, &PhoneAccess::setLocalNetworkOnly);
    connect(m_ui->chkAskNewPhones, &QCheckBox::toggled, access, &PhoneAccess::setAskBeforeNewPhone);

    m_ui->twRememberedPhones->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    connect(m_ui->twRememberedPhones, &QTreeWidget::itemSelectionChanged, this,
            [this] { m_ui->btnRemovePhone->setEnabled(m_ui->twRememberedPhones->currentItem() != nullptr); });
    connect(m_ui->btnRemovePhone, &QPushButton::clicked, access, [this, access] {
        if (const QTreeWidgetItem* item = m_ui->twRememberedPhones->currentItem())
            access->forget(item->data(0, Qt::UserRole).toString());
    });
    connect(access, &PhoneAccess::rememberedPhonesChanged, this, &AboutView::updateRememberedPhones);
    updateRememberedPhones();
}

void AboutView::updateRememberedPhones()
{
    QList<RememberedPhone> phones = PhoneAccess::shared()->rememberedPhones();
    std::sort(phones.begin(), phones.end(),
              [](const RememberedPhone& a, const RememberedPhone& b) { return a.lastSeen > b.lastSeen; });
    QTreeWidget* list = m_ui->twRememberedPhones;
    list->clear();
    for (const RememberedPhone& phone : qAsConst(phones)) {
        const QString seen = phone.lastSeen.isValid()
                                 ? QLocale().toString(phone.lastSeen.toLocalTime(), QLocale::ShortFormat)
                                 : QString();
        auto* item = new QTreeWidgetItem(list, {phone.address, seen});
        item->setData(0, Qt::UserRole, phone.address);
    }
    m_ui->btnRemovePhone->setEnabled(false);
}

void AboutView::load(QHash<QString, QVariant>* params)
{
    Q_UNUSED(params)
    qDebug() << "AboutView::load.";
    // The user may have opened the firewall meanwhile.
    if (m_firewallProbe)
        m_firewallProbe->probe();
}

void AboutView::unload(QHash<QString, QVariant>* params)
{
    Q_UNUSED(params)
}

void AboutView::updateQRCode()
{
    const QString payload = connectionPayload(selectedAddress(), serverPort());
    m_ui->lbQRCode->setPixmap(QPixmap::fromImage(renderQrImage(payload, kQrImageSize)));
}

void AboutView::updateWebClientQRCode()
{
    const QString url = webClientUrl(selectedAddress(), kWebClientPort, PairingToken::shared()->token());
    m_ui->lbWebQRCode->setPixmap(QPixmap::fromImage(renderQrImage(url, kWebQrImageSize)));
    m_ui->lbWebQRCode->setToolTip(url);
}

QString AboutView::selectedAddress() const
{
    const QString address = m_ui->cbConnAddress->currentData(Qt::UserRole).toString();
    if (!address.isEmpty())
        return address;
    return preferredConnectionAddress(collectConnectionAddresses());
}

ConnectionAddressList AboutView::collectConnectionAddresses() const
{
    return ::collectConnectionAddresses(systemNetworkAdapters(), systemAddresses());
}

QString AboutView::preferredConnectionAddress(const ConnectionAddressList& addresses) const
{
    return ::preferredConnectionAddress(addresses);
}

int AboutView::serverPort() const
{
    for (const QWidget* ancestor = parentWidget(); ancestor; ancestor = ancestor->parentWidget()) {
        if (const auto* provider = dynamic_cast<const ServerPortProvider*>(ancestor)) {
            const int port = provider->serverPort();
            // A port the phone could never connect to is no better than the default.
            return port > 0 && port <= 65535 ? port : kDefaultServerPort;
        }
    }
    return kDefaultServerPort;
}
