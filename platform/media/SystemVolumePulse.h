#pragma once

#include "platform/media/SystemVolume.h"

#include <QByteArray>

struct pa_context;
struct pa_glib_mainloop;
struct pa_server_info;
struct pa_sink_info;
class QTimer;

// The default sink of a PulseAudio server (PipeWire answers the same protocol). libpulse runs
// on the GLib main context that Qt's event loop already drives, so every callback arrives on
// the GUI thread and nothing ever waits for the server. When the server goes away the state
// says so and a connection is tried again every ReconnectMs.
class SystemVolumePulse final : public SystemVolume
{
    Q_OBJECT
public:
    explicit SystemVolumePulse(QObject* parent = nullptr);
    ~SystemVolumePulse() override;

    SystemVolumeState state() const override { return m_state; }
    void setVolume(int percent) override;
    void setMuted(bool muted) override;

    static constexpr int ReconnectMs = 1000;

private:
    void connectToServer();
    void dropContext();
    void onContextState(pa_context* context);
    void onSubscription(pa_context* context, unsigned int event, unsigned int index);
    void requestServerInfo();
    void onServerInfo(pa_context* context, const pa_server_info* info);
    void requestSinkInfo();
    void onSinkInfo(pa_context* context, const pa_sink_info* info, int eol);
    void publish(const SystemVolumeState& state);

    pa_glib_mainloop* m_mainloop = nullptr;
    pa_context* m_context = nullptr;
    QTimer* m_reconnect = nullptr;
    QByteArray m_sinkName; // the default sink; empty when there is none
    unsigned int m_sinkIndex = 0;
    unsigned int m_channels = 0;
    unsigned int m_volumes[32] = {}; // its per-channel volumes, kept to preserve the balance
    SystemVolumeState m_state;
};
