#include "platform/media/SystemVolumePulse.h"

#include <pulse/context.h>
#include <pulse/glib-mainloop.h>
#include <pulse/introspect.h>
#include <pulse/subscribe.h>
#include <pulse/volume.h>

#include <QAbstractEventDispatcher>
#include <QDebug>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstring>

SystemVolumePulse::SystemVolumePulse(QObject* parent)
    : SystemVolume(parent)
    , m_reconnect(new QTimer(this))
{
    m_reconnect->setSingleShot(true);
    m_reconnect->setInterval(ReconnectMs);
    connect(m_reconnect, &QTimer::timeout, this, &SystemVolumePulse::connectToServer);
    // Our callbacks only run if Qt's event loop is the GLib one (the default on Linux).
    auto* dispatcher = QAbstractEventDispatcher::instance();
    if (dispatcher == nullptr || !dispatcher->inherits("QEventDispatcherGlib")) {
        qWarning() << "System volume: the event loop does not run GLib sources; volume control is off";
        return;
    }
    m_mainloop = pa_glib_mainloop_new(nullptr);
    connectToServer();
}

SystemVolumePulse::~SystemVolumePulse()
{
    dropContext();
    if (m_mainloop != nullptr)
        pa_glib_mainloop_free(m_mainloop);
}

void SystemVolumePulse::connectToServer()
{
    dropContext();
    m_context = pa_context_new(pa_glib_mainloop_get_api(m_mainloop), "Velmora");
    if (m_context == nullptr) {
        m_reconnect->start();
        return;
    }
    pa_context_set_state_callback(
        m_context,
        [](pa_context* c, void* self) { static_cast<SystemVolumePulse*>(self)->onContextState(c); }, this);
    // Never start a server of our own: the user's session decides whether there is one.
    if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        dropContext();
        m_reconnect->start();
    }
}

void SystemVolumePulse::dropContext()
{
    if (m_context == nullptr)
        return;
    // Pending requests are cancelled with the context; their callbacks never run.
    pa_context_set_state_callback(m_context, nullptr, nullptr);
    pa_context_set_subscribe_callback(m_context, nullptr, nullptr);
    pa_context_disconnect(m_context);
    pa_context_unref(m_context);
    m_context = nullptr;
}

void SystemVolumePulse::onContextState(pa_context* context)
{
    if (context != m_context)
        return;
    switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY: {
        qInfo() << "System volume: connected to the sound server";
        pa_context_set_subscribe_callback(
            context,
            [](pa_context* c, pa_subscription_event_type_t event, uint32_t index, void* self) {
                static_cast<SystemVolumePulse*>(self)->onSubscription(c, event, index);
            },
            this);
        pa_operation* op = pa_context_subscribe(
            context, pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SERVER), nullptr,
            nullptr);
        if (op != nullptr)
            pa_operation_unref(op);
        SystemVolumeState state;
        state.server = true;
        publish(state);
        requestServerInfo();
        break;
    }
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
        if (m_state.server)
            qInfo() << "System volume: the sound server went away";
        dropContext();
        m_sinkName.clear();
        publish(SystemVolumeState());
        m_reconnect->start();
        break;
    default:
        break;
    }
}

void SystemVolumePulse::onSubscription(pa_context* context, unsigned int event, unsigned int index)
{
    if (context != m_context)
        return;
    const unsigned int facility = event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const unsigned int type = event & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    if (facility == PA_SUBSCRIPTION_EVENT_SERVER)
        requestServerInfo(); // the default output may have changed
    else if (facility == PA_SUBSCRIPTION_EVENT_SINK && type == PA_SUBSCRIPTION_EVENT_NEW &&
             m_sinkName.isEmpty())
        requestServerInfo();
    else if (facility == PA_SUBSCRIPTION_EVENT_SINK && index == m_sinkIndex && !m_sinkName.isEmpty())
        type == PA_SUBSCRIPTION_EVENT_REMOVE ? requestServerInfo() : requestSinkInfo();
}

void SystemVolumePulse::requestServerInfo()
{
    pa_operation* op = pa_context_get_server_info(
        m_context,
        [](pa_context* c, const pa_server_info* info, void* self) {
            static_cast<SystemVolumePulse*>(self)->onServerInfo(c, info);
        },
        this);
    if (op != nullptr)
        pa_operation_unref(op);
}

void SystemVolumePulse::onServerInfo(pa_context* context, const pa_server_info* info)
{
    if (context != m_context)
        return;
    const QByteArray sink = info != nullptr && info->default_sink_name != nullptr
                                ? QByteArray(info->default_sink_name)
                                : QByteArray();
    m_sinkName = sink;
    if (sink.isEmpty()) {
        SystemVolumeState state;
        state.server = true;
        publish(state);
        return;
    }
    requestSinkInfo();
}

void SystemVolumePulse::requestSinkInfo()
{
    pa_operation* op = pa_context_get_sink_info_by_name(
        m_context, m_sinkName.constData(),
        [](pa_context* c, const pa_sink_info* info, int eol, void* self) {
            static_cast<SystemVolumePulse*>(self)->onSinkInfo(c, info, eol);
        },
        this);
    if (op != nullptr)
        pa_operation_unref(op);
}

void SystemVolumePulse::onSinkInfo(pa_context* context, const pa_sink_info* info, int eol)
{
    if (context != m_context || eol != 0 || info == nullptr)
        return; // the end of the list, or the sink vanished (a removal event follows)
    if (m_sinkName != info->name)
        return; // an answer about a sink that is no longer the default
    m_sinkIndex = info->index;
    m_channels = std::min<unsigned int>(info->volume.channels, PA_CHANNELS_MAX);
    std::copy(info->volume.values, info->volume.values + m_channels, m_volumes);
    SystemVolumeState state;
    state.server = true;
    state.available = true;
    state.volume = int(std::lround(double(pa_cvolume_max(&info->volume)) * 100.0 / PA_VOLUME_NORM));
    state.muted = info->mute != 0;
    publish(state);
}

void SystemVolumePulse::setVolume(int percent)
{
    if (m_context == nullptr || !m_state.available || m_channels == 0)
        return;
    const auto target =
        pa_volume_t(std::lround(double(std::clamp(percent, 0, 100)) * PA_VOLUME_NORM / 100.0));
    pa_cvolume volume;
    pa_cvolume_init(&volume);
    volume.channels = quint8(m_channels);
    std::copy(m_volumes, m_volumes + m_channels, volume.values);
    // Scaled as a whole, so the balance between the channels stays; from silence, all alike.
    if (pa_cvolume_max(&volume) == PA_VOLUME_MUTED)
        pa_cvolume_set(&volume, m_channels, target);
    else
        pa_cvolume_scale(&volume, target);
    pa_operation* op =
        pa_context_set_sink_volume_by_name(m_context, m_sinkName.constData(), &volume, nullptr, nullptr);
    if (op != nullptr)
        pa_operation_unref(op);
}

void SystemVolumePulse::setMuted(bool muted)
{
    if (m_context == nullptr || !m_state.available)
        return;
    pa_operation* op =
        pa_context_set_sink_mute_by_name(m_context, m_sinkName.constData(), muted ? 1 : 0, nullptr, nullptr);
    if (op != nullptr)
        pa_operation_unref(op);
}

void SystemVolumePulse::publish(const SystemVolumeState& state)
{
    if (state == m_state)
        return;
    m_state = state;
    emit changed();
}

std::unique_ptr<SystemVolume> createSystemVolume()
{
    return std::make_unique<SystemVolumePulse>();
}
