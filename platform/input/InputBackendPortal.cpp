#include "platform/input/InputBackendPortal.h"
#include "platform/input/InputBackendPortalSession.h"

#include "platform/input/SeatKeymap.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QSettings>

// The public face of the portal backend; the session behind it is in
// InputBackendPortalSession.h.

const char* const InputBackendPortal::RestoreTokenKey = "input/portalRestoreToken";

InputBackendPortal::Probe InputBackendPortal::probe(const QDBusConnection& bus)
{
    Probe probe;
    if (!bus.isConnected())
        return probe;
    QDBusMessage getAll = QDBusMessage::createMethodCall(PortalBus::Service, PortalBus::Path,
                                                         QStringLiteral("org.freedesktop.DBus.Properties"),
                                                         QStringLiteral("GetAll"));
    getAll << PortalBus::Interface;
    const QDBusMessage reply = bus.call(getAll, QDBus::Block, 5000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return probe;
    const QVariantMap properties = qdbus_cast<QVariantMap>(reply.arguments().constFirst());
    const QVariant types = properties.value(QStringLiteral("AvailableDeviceTypes"));
    probe.available =
        types.isValid() && (types.toUInt() & (PortalBus::DeviceKeyboard | PortalBus::DevicePointer)) != 0;
    probe.version = properties.value(QStringLiteral("version")).toUInt();
    return probe;
}

InputBackendPortal::InputBackendPortal(const QDBusConnection& bus, std::unique_ptr<QSettings> settings,
                                       Surroundings surroundings)
    : d(std::make_unique<Session>(bus, std::move(settings), std::move(surroundings)))
    , m_keymap(std::make_unique<SeatKeymap>())
{
    QObject::connect(InputBackendStatus::instance(), &InputBackendStatus::askAgainRequested, d.get(),
                     [this] { restart(); });
    d->start();
}

InputBackendPortal::~InputBackendPortal() = default;

void InputBackendPortal::send(const QVector<InputRecord>& records)
{
    d->send(records);
}

QSize InputBackendPortal::primaryScreenSize()
{
    // Absolute positions span all screens together.
    return d->desktopSize();
}

void InputBackendPortal::restart()
{
    d->start();
}

void InputBackendPortal::setAnswerTimeout(int milliseconds)
{
    d->setAnswerTimeout(milliseconds);
}

void InputBackendPortal::whenDelivered(std::function<void()> done)
{
    d->whenDelivered(std::move(done));
}

bool InputBackendPortal::isReady() const
{
    return d->ready();
}

bool InputBackendPortal::typesCharacter(char32_t character)
{
    return m_keymap->typesCharacter(character);
}
