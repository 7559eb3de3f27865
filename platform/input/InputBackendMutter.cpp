#include "platform/input/InputBackendMutter.h"
#include "platform/input/InputBackendMutterSession.h"

#include "platform/input/InputBackendStatus.h"
#include "platform/input/SeatKeymap.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QHash>

#include <cmath>

// The public face of the Mutter backend, and how Mutter's monitors are read. The session
// behind it is in InputBackendMutterSession.h.

namespace {

// The connector, vendor, product and serial that name a monitor.
QString readMonitorName(const QDBusArgument& arg)
{
    QString connector, vendor, product, serial;
    arg.beginStructure();
    arg >> connector >> vendor >> product >> serial;
    arg.endStructure();
    return connector;
}

// The current mode's size of each monitor, by connector, from GetCurrentState's monitors:
// a((ssss)a(siiddada{sv})a{sv}).
QHash<QString, QSize> readModeSizes(const QDBusArgument& arg)
{
    QHash<QString, QSize> sizes;
    arg.beginArray();
    while (!arg.atEnd()) {
        arg.beginStructure();
        const QString connector = readMonitorName(arg);
        arg.beginArray();
        while (!arg.atEnd()) {
            QString id;
            int width = 0, height = 0;
            double refresh = 0, preferredScale = 0;
            QList<double> scales;
            QVariantMap properties;
            arg.beginStructure();
            arg >> id >> width >> height >> refresh >> preferredScale >> scales >> properties;
            arg.endStructure();
            if (properties.value(QStringLiteral("is-current")).toBool())
                sizes.insert(connector, QSize(width, height));
        }
        arg.endArray();
        QVariantMap properties;
        arg >> properties;
        arg.endStructure();
    }
    arg.endArray();
    return sizes;
}

} // namespace

QVector<InputBackendMutter::Monitor> InputBackendMutter::monitorsOf(const QDBusMessage& state)
{
    // (u serial, monitors, logical monitors a(iiduba(ssss)a{sv}), properties a{sv})
    const QVariantList args = state.arguments();
    // Read only in the form this code knows: another one would be read wrongly.
    if (args.size() < 4 || !args.at(1).canConvert<QDBusArgument>() ||
        !args.at(2).canConvert<QDBusArgument>() ||
        args.at(1).value<QDBusArgument>().currentSignature() !=
            QLatin1String("a((ssss)a(siiddada{sv})a{sv})") ||
        args.at(2).value<QDBusArgument>().currentSignature() != QLatin1String("a(iiduba(ssss)a{sv})"))
        return {};
    const QHash<QString, QSize> sizes = readModeSizes(args.at(1).value<QDBusArgument>());
    const QVariantMap properties = qdbus_cast<QVariantMap>(args.at(3));
    // In the logical layout monitors are placed in logical pixels and a stream counts physical
    // ones; in the physical layout both count physical pixels.
    constexpr uint kLogicalLayout = 1;
    const bool logical = properties.value(QStringLiteral("layout-mode")).toUInt() == kLogicalLayout;
    QVector<Monitor> monitors;
    const QDBusArgument arg = args.at(2).value<QDBusArgument>();
    arg.beginArray();
    while (!arg.atEnd()) {
        int x = 0, y = 0;
        double scale = 1;
        uint transform = 0;
        bool primary = false;
        QStringList connectors;
        arg.beginStructure();
        arg >> x >> y >> scale >> transform >> primary;
        arg.beginArray();
        while (!arg.atEnd())
            connectors << readMonitorName(arg);
        arg.endArray();
        QVariantMap logicalProperties;
        arg >> logicalProperties;
        arg.endStructure();
        // Mirrored monitors share one place; the first one's stream stands for it.
        QSize size = sizes.value(connectors.value(0));
        if (size.isEmpty() || !(scale > 0) || scale > 16)
            continue;
        const double factor = logical ? scale : 1.0;
        // Turned by a quarter (90° or 270°, flipped or not): width and height swap.
        if (transform % 2 == 1)
            size.transpose();
        Monitor m;
        m.connector = connectors.value(0);
        m.area =
            QRect(x, y, int(std::lround(size.width() / factor)), int(std::lround(size.height() / factor)));
        m.streamScale = factor;
        if (primary)
            monitors.prepend(m);
        else
            monitors.append(m);
    }
    arg.endArray();
    return monitors;
}
bool InputBackendMutter::available(const QDBusConnection& bus)
{
    if (!bus.isConnected() || bus.interface() == nullptr)
        return false;
    return bus.interface()->isServiceRegistered(MutterBus::Service).value();
}

InputBackendMutter::InputBackendMutter(const QDBusConnection& bus, DesktopSurroundings surroundings)
    : d(std::make_unique<Session>(bus, std::move(surroundings)))
    , m_keymap(std::make_unique<SeatKeymap>())
{
    QObject::connect(InputBackendStatus::instance(), &InputBackendStatus::askAgainRequested, d.get(),
                     [this] { restart(); });
    d->start();
}

InputBackendMutter::~InputBackendMutter() = default;

void InputBackendMutter::send(const QVector<InputRecord>& records)
{
    d->send(records);
}

QSize InputBackendMutter::primaryScreenSize()
{
    return d->absoluteSize();
}

bool InputBackendMutter::isReady() const
{
    return d->ready();
}

bool InputBackendMutter::hasStream() const
{
    return d->streamCount() > 0;
}

int InputBackendMutter::streamCount() const
{
    return d->streamCount();
}

void InputBackendMutter::restart()
{
    d->start();
}

bool InputBackendMutter::typesCharacter(char32_t character)
{
    return m_keymap->typesCharacter(character);
}
