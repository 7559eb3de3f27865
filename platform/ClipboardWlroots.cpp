#include "platform/ClipboardWlroots.h"

#include "wlr-data-control-unstable-v1-client-protocol.h"

#include <wayland-client.h>

#include <QByteArray>
#include <QDebug>
#include <QPointer>
#include <QSocketNotifier>
#include <QStringList>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <list>
#include <map>

#include <csignal>

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace {

const char* const kTextTypes[] = {"text/plain;charset=utf-8", "UTF8_STRING", "text/plain", "TEXT", "STRING"};

struct Globals
{
    wl_seat* seat = nullptr;
    zwlr_data_control_manager_v1* manager = nullptr;

    static void global(void* data, wl_registry* registry, quint32 name, const char* interface,
                       quint32 version)
    {
        auto* g = static_cast<Globals*>(data);
        const QByteArray which(interface);
        if (which == zwlr_data_control_manager_v1_interface.name && g->manager == nullptr)
            g->manager = static_cast<zwlr_data_control_manager_v1*>(
                wl_registry_bind(registry, name, &zwlr_data_control_manager_v1_interface, 1));
        else if (which == wl_seat_interface.name && g->seat == nullptr)
            g->seat = static_cast<wl_seat*>(
                wl_registry_bind(registry, name, &wl_seat_interface, std::min<quint32>(version, 2)));
    }
    static void globalRemove(void*, wl_registry*, quint32) {}
};
const wl_registry_listener kRegistryListener = {Globals::global, Globals::globalRemove};

// One end of a pipe, non-blocking, watched by the event loop.
class PipeEnd
{
public:
    PipeEnd(int fd, QSocketNotifier::Type type)
        : m_fd(fd)
        , m_notifier(fd, type)
    {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    ~PipeEnd() { ::close(m_fd); }
    PipeEnd(const PipeEnd&) = delete;
    PipeEnd& operator=(const PipeEnd&) = delete;
    int fd() const { return m_fd; }
    QSocketNotifier& notifier() { return m_notifier; }

private:
    int m_fd;
    QSocketNotifier m_notifier;
};

// Writing to a pipe whose reader has gone raises SIGPIPE, which would end the process. The
// signal is held back for the write and one it raised is taken away again: only EPIPE remains.
ssize_t writeWithoutSignal(int fd, const char* data, size_t size)
{
    sigset_t pipeSignal;
    sigset_t previous;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    const ssize_t n = ::write(fd, data, size);
    const int error = errno;
    if (n < 0 && error == EPIPE && !sigismember(&previous, SIGPIPE)) {
        const timespec zero{};
        while (sigtimedwait(&pipeSignal, nullptr, &zero) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = error;
    return n;
}

} // namespace

struct ClipboardWlroots::Private
{
    QObject* owner = nullptr; // the context of deferred clean-ups, which end with it
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    Globals globals;
    zwlr_data_control_device_v1* device = nullptr;
    std::unique_ptr<QSocketNotifier> notifier;
    bool broken = false;

    // Offers announced by the compositor with their types; `selection` is the clipboard's.
    std::map<zwlr_data_control_offer_v1*, QStringList> offers;
    zwlr_data_control_offer_v1* selection = nullptr;

    // Our text while it is the clipboard's; and the transfers of it to other programs.
    zwlr_data_control_source_v1* source = nullptr;
    QByteArray sourceBytes;
    struct Sending
    {
        std::unique_ptr<PipeEnd> pipe;
        QByteArray bytes;
        qint64 written = 0;
    };
    std::list<Sending> sendings;

    struct Reading
    {
        std::unique_ptr<PipeEnd> pipe;
        QByteArray bytes;
        qint64 maxBytes = 0;
        ReadDone done;
        std::unique_ptr<QTimer> timeout;
    };
    std::list<Reading> readings;

    void flush()
    {
        if (!broken && wl_display_flush(display) < 0 && errno != EAGAIN)
            fail();
    }
    void fail()
    {
        if (broken)
            return;
        broken = true;
        qWarning() << "Clipboard: the connection to the compositor broke";
        notifier->setEnabled(false);
    }
    void readEvents()
    {
        if (broken)
            return;
        while (wl_display_prepare_read(display) != 0) {
            if (wl_display_dispatch_pending(display) < 0)
                return fail();
        }
        if (wl_display_read_events(display) < 0 || wl_display_dispatch_pending(display) < 0)
            return fail();
        flush();
    }
    // Runs what the compositor has already sent (a request's answers may be waiting).
    void dispatchPending()
    {
        if (!broken && wl_display_dispatch_pending(display) < 0)
            fail();
    }

    void dropOffer(zwlr_data_control_offer_v1* offer)
    {
        if (offer == nullptr)
            return;
        offers.erase(offer);
        zwlr_data_control_offer_v1_destroy(offer);
    }

    // --- device events
    static void dataOffer(void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer)
    {
        auto* d = static_cast<Private*>(data);
        d->offers[offer];
        zwlr_data_control_offer_v1_add_listener(offer, &kOfferListener, d);
    }
    static void selectionChanged(void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer)
    {
        auto* d = static_cast<Private*>(data);
        if (d->selection != offer)
            d->dropOffer(d->selection);
        d->selection = offer;
    }
    static void finished(void* data, zwlr_data_control_device_v1*)
    {
        static_cast<Private*>(data)->fail(); // the seat is gone
    }
    static void primarySelection(void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer)
    {
        // Not followed; the offer is released at once.
        auto* d = static_cast<Private*>(data);
        if (offer != nullptr && offer != d->selection)
            d->dropOffer(offer);
    }
    static constexpr zwlr_data_control_device_v1_listener kDeviceListener = {dataOffer, selectionChanged,
                                                                             finished, primarySelection};

    // --- offer events
    static void offerType(void* data, zwlr_data_control_offer_v1* offer, const char* type)
    {
        auto* d = static_cast<Private*>(data);
        QStringList& types = d->offers[offer];
        if (types.size() < 256) // a peer offering endless types costs us nothing more
            types << QString::fromUtf8(type);
    }
    static constexpr zwlr_data_control_offer_v1_listener kOfferListener = {offerType};

    // --- source events
    static void sourceSend(void* data, zwlr_data_control_source_v1* source, const char*, int32_t fd)
    {
        auto* d = static_cast<Private*>(data);
        if (source != d->source) {
            ::close(fd);
            return;
        }
        d->sendings.push_back(
            Sending{std::make_unique<PipeEnd>(fd, QSocketNotifier::Write), d->sourceBytes, 0});
        Sending* sending = &d->sendings.back();
        QObject::connect(&sending->pipe->notifier(), &QSocketNotifier::activated,
                         [d, sending] { d->write(sending); });
    }
    static void sourceCancelled(void* data, zwlr_data_control_source_v1* source)
    {
        auto* d = static_cast<Private*>(data);
        if (source == d->source) {
            d->source = nullptr;
            d->sourceBytes.clear();
        }
        zwlr_data_control_source_v1_destroy(source);
    }
    static constexpr zwlr_data_control_source_v1_listener kSourceListener = {sourceSend, sourceCancelled};

    void write(Sending* sending)
    {
        while (sending->written < sending->bytes.size()) {
            const ssize_t n =
                writeWithoutSignal(sending->pipe->fd(), sending->bytes.constData() + sending->written,
                                   size_t(sending->bytes.size() - sending->written));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno == EAGAIN)
                return; // the reader is slow: the notifier calls again
            if (n <= 0)
                break; // the reader went away
            sending->written += n;
        }
        endSending(sending);
    }
    void endSending(Sending* sending)
    {
        sending->pipe->notifier().setEnabled(false);
        // Not from inside the notifier's own signal.
        QTimer::singleShot(0, owner, [this, sending] {
            sendings.remove_if([sending](const Sending& s) { return &s == sending; });
        });
    }

    void read(Reading* reading)
    {
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::read(reading->pipe->fd(), buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno == EAGAIN)
                return;
            if (n < 0)
                return finishReading(reading, ClipboardRead{ClipboardRead::Result::Unavailable, QString()});
            if (n == 0)
                return finishReading(reading, clipboardTextFromUtf8(reading->bytes, reading->maxBytes));
            if (reading->bytes.size() + n > reading->maxBytes)
                return finishReading(reading, ClipboardRead{ClipboardRead::Result::TooLarge, QString()});
            reading->bytes.append(buffer, int(n));
        }
    }
    void finishReading(Reading* reading, const ClipboardRead& result)
    {
        reading->pipe->notifier().setEnabled(false);
        reading->timeout->stop();
        const ReadDone done = std::move(reading->done);
        QTimer::singleShot(0, owner, [this, reading] {
            readings.remove_if([reading](const Reading& r) { return &r == reading; });
        });
        done(result);
    }
};

constexpr zwlr_data_control_device_v1_listener ClipboardWlroots::Private::kDeviceListener;
constexpr zwlr_data_control_offer_v1_listener ClipboardWlroots::Private::kOfferListener;
constexpr zwlr_data_control_source_v1_listener ClipboardWlroots::Private::kSourceListener;

std::unique_ptr<ClipboardWlroots> ClipboardWlroots::open()
{
    auto d = std::make_unique<Private>();
    d->display = wl_display_connect(nullptr);
    if (d->display == nullptr)
        return nullptr;
    d->registry = wl_display_get_registry(d->display);
    wl_registry_add_listener(d->registry, &kRegistryListener, &d->globals);
    wl_display_roundtrip(d->display);
    if (d->globals.manager == nullptr || d->globals.seat == nullptr) {
        ClipboardWlroots unusable(std::move(d)); // its destructor lets go of the connection
        return nullptr;
    }
    d->device = zwlr_data_control_manager_v1_get_data_device(d->globals.manager, d->globals.seat);
    zwlr_data_control_device_v1_add_listener(d->device, &Private::kDeviceListener, d.get());
    wl_display_roundtrip(d->display); // the current selection
    d->notifier = std::make_unique<QSocketNotifier>(wl_display_get_fd(d->display), QSocketNotifier::Read);
    Private* p = d.get();
    QObject::connect(d->notifier.get(), &QSocketNotifier::activated, [p] { p->readEvents(); });
    return std::unique_ptr<ClipboardWlroots>(new ClipboardWlroots(std::move(d)));
}

ClipboardWlroots::ClipboardWlroots(std::unique_ptr<Private> d)
    : d(std::move(d))
{
    this->d->owner = this;
}

ClipboardWlroots::~ClipboardWlroots()
{
    d->readings.clear(); // their callbacks never run
    d->sendings.clear();
    d->notifier.reset();
    for (auto& [offer, types] : d->offers)
        zwlr_data_control_offer_v1_destroy(offer);
    if (d->source != nullptr)
        zwlr_data_control_source_v1_destroy(d->source);
    if (d->device != nullptr)
        zwlr_data_control_device_v1_destroy(d->device);
    if (d->globals.manager != nullptr)
        zwlr_data_control_manager_v1_destroy(d->globals.manager);
    if (d->globals.seat != nullptr)
        wl_seat_destroy(d->globals.seat);
    if (d->registry != nullptr)
        wl_registry_destroy(d->registry);
    if (d->display != nullptr) {
        wl_display_flush(d->display);
        wl_display_disconnect(d->display);
    }
}

bool ClipboardWlroots::setText(const QString& text)
{
    if (d->broken || d->device == nullptr)
        return false;
    zwlr_data_control_source_v1* source = zwlr_data_control_manager_v1_create_data_source(d->globals.manager);
    zwlr_data_control_source_v1_add_listener(source, &Private::kSourceListener, d.get());
    for (const char* type : kTextTypes)
        zwlr_data_control_source_v1_offer(source, type);
    zwlr_data_control_device_v1_set_selection(d->device, source);
    // The previous text of ours is cancelled by the compositor; until then it answers nothing new.
    d->source = source;
    d->sourceBytes = text.toUtf8();
    d->flush();
    return !d->broken;
}

void ClipboardWlroots::readText(qint64 maxBytes, ReadDone done)
{
    d->dispatchPending();
    if (d->broken || d->device == nullptr) {
        done(ClipboardRead{ClipboardRead::Result::Unavailable, QString()});
        return;
    }
    if (d->selection == nullptr) {
        done(ClipboardRead{ClipboardRead::Result::Text, QString()}); // an empty clipboard
        return;
    }
    const QStringList& types = d->offers[d->selection];
    QString type;
    for (const char* candidate : kTextTypes) {
        if (types.contains(QLatin1String(candidate))) {
            type = QLatin1String(candidate);
            break;
        }
    }
    if (type.isEmpty()) {
        done(ClipboardRead{types.isEmpty() ? ClipboardRead::Result::Text : ClipboardRead::Result::NotText,
                           QString()});
        return;
    }
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        done(ClipboardRead{ClipboardRead::Result::Unavailable, QString()});
        return;
    }
    zwlr_data_control_offer_v1_receive(d->selection, type.toUtf8().constData(), fds[1]);
    d->flush();
    ::close(fds[1]); // the compositor has its copy now; ours would keep the pipe from ending
    d->readings.push_back(Private::Reading{std::make_unique<PipeEnd>(fds[0], QSocketNotifier::Read),
                                           QByteArray(), maxBytes, std::move(done),
                                           std::make_unique<QTimer>()});
    Private::Reading* reading = &d->readings.back();
    Private* p = d.get();
    QObject::connect(&reading->pipe->notifier(), &QSocketNotifier::activated,
                     [p, reading] { p->read(reading); });
    reading->timeout->setSingleShot(true);
    QObject::connect(reading->timeout.get(), &QTimer::timeout, [p, reading] {
        p->finishReading(reading, ClipboardRead{ClipboardRead::Result::Unavailable, QString()});
    });
    reading->timeout->start(ReadTimeoutMs);
}
