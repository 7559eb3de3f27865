#pragma once

#include "platform/media/MediaPlayerLink.h"

#include <QStringList>

// A player whose state the test sets; records every request as text ("PlayPause",
// "Seek -5", "Volume 0.5", "launch").
class MediaPlayerLinkFake final : public MediaPlayerLink
{
    Q_OBJECT
public:
    using MediaPlayerLink::MediaPlayerLink;

    MediaPlayerStatus status() const override { return m_status; }
    void noteLaunch() override;
    bool control(Action action, double value) override;

    // Sets what status() answers and announces it.
    void setStatus(const MediaPlayerStatus& status);
    const QStringList& calls() const { return m_calls; }
    // Off: requests are not kept (long fuzzing runs).
    void setRecording(bool on) { m_recording = on; }

private:
    MediaPlayerStatus m_status;
    QStringList m_calls;
    bool m_recording = true;
};
