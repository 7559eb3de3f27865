#include "platform/input/InputBackendWlrootsPrivate.h"

#include <algorithm>
#include <cmath>

#include <linux/input-event-codes.h>

// The first output's size, which absolute moves span, and the virtual pointer's moves, buttons
// and wheel.

using WlrootsInput::nowMs;

namespace {

// Scroll distance of one wheel step, as libinput reports a mouse wheel.
constexpr int kWheelStepDistance = 15;
// wl_fixed_t holds 24 integer bits.
constexpr int kMaxRelativeMotion = (1 << 23) - 1;

} // namespace

// --- output ---------------------------------------------------------------------------

void InputBackendWlroots::Private::outputGeometry(void* data, wl_output*, qint32, qint32, qint32, qint32,
                                                  qint32, const char*, const char*, qint32 transform)
{
    static_cast<Private*>(data)->outputTransform = transform;
}
void InputBackendWlroots::Private::outputMode(void* data, wl_output*, quint32 flags, qint32 width,
                                              qint32 height, qint32)
{
    auto* d = static_cast<Private*>(data);
    if (flags & WL_OUTPUT_MODE_CURRENT) {
        d->outputSize = QSize(width, height);
        d->outputReady = true;
    }
}

const wl_output_listener* InputBackendWlroots::Private::outputListener()
{
    static const wl_output_listener listener = {outputGeometry, outputMode, outputDone,
                                                outputScale,    outputName, outputDescription};
    return &listener;
}

QSize InputBackendWlroots::Private::transformedOutputSize() const
{
    // Rotated by a quarter turn, the output's mode is tall where the desktop sees it wide.
    const bool quarter = outputTransform == WL_OUTPUT_TRANSFORM_90 ||
                         outputTransform == WL_OUTPUT_TRANSFORM_270 ||
                         outputTransform == WL_OUTPUT_TRANSFORM_FLIPPED_90 ||
                         outputTransform == WL_OUTPUT_TRANSFORM_FLIPPED_270;
    return quarter ? outputSize.transposed() : outputSize;
}

// --- pointer ------------------------------------------------------------------------------

void InputBackendWlroots::Private::button(quint32 code, bool down)
{
    zwlr_virtual_pointer_v1_button(pointer, nowMs(), code,
                                   down ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED);
    if (down)
        heldButtons.insert(code);
    else
        heldButtons.remove(code);
}

// True when it sent a pointer request (which then needs a frame).
bool InputBackendWlroots::Private::mouse(const InputRecord& record, const QSize& screen)
{
    const std::uint32_t f = record.flags;
    bool sent = false;
    if (f & InputRecord::MouseMove) {
        if (f & InputRecord::Absolute) {
            const int w = std::max(screen.width(), 1);
            const int h = std::max(screen.height(), 1);
            // 0..65535 spans the first to the last pixel, as on X11.
            const auto toPixel = [](qint32 v, int extent) {
                const double p = std::round(v * (std::max(extent - 1, 0) / double(InputRecord::AbsoluteMax)));
                return quint32(std::clamp(p, 0.0, double(extent - 1)));
            };
            zwlr_virtual_pointer_v1_motion_absolute(pointer, nowMs(), toPixel(record.dx, w),
                                                    toPixel(record.dy, h), quint32(w), quint32(h));
            sent = true;
        } else if (record.dx != 0 || record.dy != 0) {
            const auto clampMotion = [](qint32 v) {
                return wl_fixed_from_int(std::clamp(v, -kMaxRelativeMotion, kMaxRelativeMotion));
            };
            zwlr_virtual_pointer_v1_motion(pointer, nowMs(), clampMotion(record.dx), clampMotion(record.dy));
            sent = true;
        }
    }
    for (const ButtonChange& b : buttonChanges(f)) {
        button(b.code, b.down);
        sent = true;
    }
    if ((f & InputRecord::Wheel) && (f & InputRecord::WheelSmooth)) {
        sent = smoothWheel(record) || sent;
    } else if (f & InputRecord::Wheel) {
        const int steps = wheel.take(record.mouseData);
        if (steps != 0) {
            // Positive notches scroll away from the user: up, which is negative here.
            const int discrete = -steps;
            zwlr_virtual_pointer_v1_axis_source(pointer, WL_POINTER_AXIS_SOURCE_WHEEL);
            zwlr_virtual_pointer_v1_axis_discrete(pointer, nowMs(), WL_POINTER_AXIS_VERTICAL_SCROLL,
                                                  wl_fixed_from_int(discrete * kWheelStepDistance), discrete);
            sent = true;
        }
    }
    return sent;
}

// Fingers on the phone: the distance as it came, in surface units, with the notch count
// where one completes for clients that count notches; the lift ends the scroll.
bool InputBackendWlroots::Private::smoothWheel(const InputRecord& record)
{
    const int steps = wheel.take(record.mouseData);
    const bool end = (record.flags & InputRecord::WheelEnd) != 0;
    if (record.mouseData == 0 && !end)
        return false;
    constexpr int kMaxNotches = WheelSteps::MaxStepsPerRecord;
    const double notches = std::clamp(record.mouseData / double(InputRecord::WheelDelta),
                                      double(-kMaxNotches), double(kMaxNotches));
    // Positive notches scroll away from the user: up, which is negative here.
    const wl_fixed_t value = wl_fixed_from_double(-notches * kWheelStepDistance);
    zwlr_virtual_pointer_v1_axis_source(pointer, WL_POINTER_AXIS_SOURCE_FINGER);
    if (steps != 0)
        zwlr_virtual_pointer_v1_axis_discrete(pointer, nowMs(), WL_POINTER_AXIS_VERTICAL_SCROLL, value,
                                              -steps);
    else if (record.mouseData != 0)
        zwlr_virtual_pointer_v1_axis(pointer, nowMs(), WL_POINTER_AXIS_VERTICAL_SCROLL, value);
    if (end) {
        // A stop in the same frame would replace the distance: it gets a frame of its own.
        if (record.mouseData != 0) {
            zwlr_virtual_pointer_v1_frame(pointer);
            zwlr_virtual_pointer_v1_axis_source(pointer, WL_POINTER_AXIS_SOURCE_FINGER);
        }
        zwlr_virtual_pointer_v1_axis_stop(pointer, nowMs(), WL_POINTER_AXIS_VERTICAL_SCROLL);
    }
    return true;
}
