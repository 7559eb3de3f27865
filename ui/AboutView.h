#pragma once

#include "pairing/ConnectionAddresses.h"
#include "ui/ViewController.h"

#include <QScopedPointer>

#include <memory>

class FirewallProbe;
struct FirewallFacts;

namespace Ui {
class AboutView;
}

// The page on which the user pairs the phone: the machine's connection addresses, the QR
// code for the selected one, beside it the code that opens the web client in the phone's
// browser (with the pairing token), and the application's name, version and links.
class AboutView final : public ViewController
{
    Q_OBJECT
public:
    explicit AboutView(QWidget* parent = nullptr);
    ~AboutView() override;

    void load(QHash<QString, QVariant>* params) override;
    void unload(QHash<QString, QVariant>* params) override;

    // Shows in "lbQRCode" the pairing code for the selected address (or the preferred one
    // when nothing is selected) and the port of the window above this page.
    void updateQRCode();
    // Shows in "lbWebQRCode" the web client's address on the selected address, with the
    // current pairing token.
    void updateWebClientQRCode();

    // This machine's usable addresses, enumerated afresh on every call.
    ConnectionAddressList collectConnectionAddresses() const;
    QString preferredConnectionAddress(const ConnectionAddressList& addresses) const;

    // Lists the always-allowed phones in "twRememberedPhones", newest sighting first.
    void updateRememberedPhones();

    // Replaces the firewall probe (tests pass a fake) and asks it at once. The page asks again
    // each time it is shown; it only ever suggests a command, it never runs one.
    void setFirewallProbe(std::unique_ptr<FirewallProbe> probe);

private:
    int serverPort() const;
    void connectPhoneAccess();
    QString selectedAddress() const;
    void showFirewallAdvice(const FirewallFacts& facts);

    QScopedPointer<Ui::AboutView> m_ui;
    std::unique_ptr<FirewallProbe> m_firewallProbe;
};
