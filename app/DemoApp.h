#pragma once

#include "app/ApplicationBase.h"

// The context this program registers; everything else reaches it through `DemoApp::get()`.
class DemoApp final : public ApplicationBase
{
    Q_OBJECT
public:
    DemoApp();

    static DemoApp* get();

    QString applicationDirPath() const override;
    QString writableLocation() const override;
    QSize defaultWindowSize() const override;
    void setMainWindowRect(const QRect& rect) override { m_mainWindowRect = rect; }
    QRect mainWindowRect() const override { return m_mainWindowRect; }

private:
    QRect m_mainWindowRect;
};
