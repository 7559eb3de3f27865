#include "platform/clipboard/ClipboardWlroots.h"

#include "platform/clipboard/ClipboardPipes.h"
#include "wlr-data-control-unstable-v1-client-protocol.h"

#include <wayland-client.h>

#include <QByteArray>
#include <QDebug>
#include <QSocketNotifier>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <map>
#include <set>

#include <fcntl.h>
#include <unistd.h>

namespace {

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

} // namespace

struct ClipboardWlroots::Private
{
    QObject* owner = nullptr; // the parent of transfers, which end with it
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    Globals globals;
    zwlr_data_control_device_v1* device = nullptr;
    std::unique_ptr<QSocketNotifier> notifier;
    bool broken = false;

    // Offers announced by the compositor with their types; `selection` is the clipboard's.
    std::map<zwlr_data_control_offer_v1*, QStringList> offers;
    zwlr_data_control_offer_v1* selection = nullptr;

    // Our content while it is the clipboard's, type by type.
    zwlr_data_control_source_v1* source = nullptr;
    QVector<QPair<QString, QByteArray>> sourceTypes;
    // For a transient text: the callback of each read.
    std::function<void()> sourceTaken;
    // Every source of ours until the compositor cancels it (texts replaced are cancelled later).
    std::set<zwlr_data_control_source_v1*> sources;

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
    static void sourceSend(void* data, zwlr_data_control_source_v1* source, const char* type, int32_t fd)
    {
        auto* d = static_cast<Private*>(data);
        if (source != d->source) {
            ::close(fd);
            return;
        }
        const QString name = QString::fromUtf8(type);
        QByteArray bytes;
        for (const auto& offered : qAsConst(d->sourceTypes)) {
            if (offered.first == name)
                bytes = offered.second;
        }
        new ClipboardPipeWriter(fd, bytes, ClipboardPipeWriter::Finished(), d->owner);
        // A clipboard manager asking whether to keep it is told that it is secret; only a
        // read of the content itself is a paste.
        if (d->sourceTaken && qstrcmp(type, ClipboardSecretHintType) != 0) {
            const std::function<void()> taken = d->sourceTaken; // it may set a new text
            taken();
        }
    }
    static void sourceCancelled(void* data, zwlr_data_control_source_v1* source)
    {
        auto* d = static_cast<Private*>(data);
        if (source == d->source) {
            d->source = nullptr;
            d->sourceTypes.clear();
            d->sourceTaken = nullptr;
        }
        d->sources.erase(source);
        zwlr_data_control_source_v1_destroy(source);
    }
    static constexpr zwlr_data_control_source_v1_listener kSourceListener = {sourceSend, sourceCancelled};
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
    d->notifier.reset();
    for (auto& [offer, types] : d->offers)
        zwlr_data_control_offer_v1_destroy(offer);
    for (zwlr_data_control_source_v1* source : d->sources)
        zwlr_data_control_source_v1_destroy(source);
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
    return offer(clipboardTextOffer(text), nullptr);
}

bool ClipboardWlroots::offerTransient(const QString& text, std::function<void()> taken)
{
    Types types = clipboardTextOffer(text);
    types.append({QLatin1String(ClipboardSecretHintType), QByteArray(ClipboardSecretHintValue)});
    return offer(types, std::move(taken));
}

bool ClipboardWlroots::offer(const Types& types, std::function<void()> taken)
{
    if (d->broken || d->device == nullptr)
        return false;
    zwlr_data_control_source_v1* source = nullptr;
    // No types: the clipboard is left empty, as it was before a paste of ours.
    if (!types.isEmpty()) {
        source = zwlr_data_control_manager_v1_create_data_source(d->globals.manager);
        zwlr_data_control_source_v1_add_listener(source, &Private::kSourceListener, d.get());
        for (const auto& type : types)
            zwlr_data_control_source_v1_offer(source, type.first.toUtf8().constData());
        d->sources.insert(source);
    }
    d->sourceTaken = std::move(taken);
    zwlr_data_control_device_v1_set_selection(d->device, source);
    // The previous content of ours is cancelled by the compositor; until then it answers nothing new.
    d->source = source;
    d->sourceTypes = types;
    d->flush();
    return !d->broken;
}

struct ClipboardWlroots::Save
{
    zwlr_data_control_offer_v1* offer = nullptr;
    QStringList types;
    int next = 0;
    qint64 left = 0;
    ClipboardContent content;
    std::function<void(const ClipboardContent&)> done;
};

void ClipboardWlroots::saveContent(qint64 maxBytes, std::function<void(const ClipboardContent&)> done)
{
    d->dispatchPending();
    if (d->broken || d->device == nullptr) {
        done(ClipboardContent());
        return;
    }
    auto save = std::make_shared<Save>();
    save->offer = d->selection;
    if (save->offer != nullptr)
        save->types = d->offers[save->offer];
    save->left = maxBytes;
    save->done = std::move(done);
    saveNext(save);
}

void ClipboardWlroots::saveNext(const std::shared_ptr<Save>& save)
{
    if (save->next == save->types.size()) {
        save->content.known = true;
        save->done(save->content);
        return;
    }
    // Copied over meanwhile: the offer read so far is gone.
    d->dispatchPending();
    int fds[2];
    if (d->broken || d->selection != save->offer || pipe2(fds, O_CLOEXEC) != 0) {
        save->done(ClipboardContent());
        return;
    }
    const QString type = save->types.at(save->next++);
    zwlr_data_control_offer_v1_receive(save->offer, type.toUtf8().constData(), fds[1]);
    d->flush();
    ::close(fds[1]);
    new ClipboardPipeReader(fds[0], save->left, ReadTimeoutMs,
                            ClipboardPipeReader::BytesDone(
                                [this, save, type](ClipboardRead::Result result, const QByteArray& bytes) {
                                    if (result != ClipboardRead::Result::Text) {
                                        save->done(ClipboardContent());
                                        return;
                                    }
                                    save->left -= bytes.size();
                                    save->content.types.append({type, bytes});
                                    saveNext(save);
                                }),
                            this);
}

bool ClipboardWlroots::restoreContent(const ClipboardContent& content)
{
    return content.known && offer(content.types, nullptr);
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
    const QString type = clipboardTextType(types);
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
    // Transfers end with this object (a child), their callbacks unrun.
    new ClipboardPipeReader(fds[0], maxBytes, ReadTimeoutMs, std::move(done), this);
}
