#include "ui/ViewController.h"

#include <QVBoxLayout>

ViewController::ViewController(QWidget* parent)
    : QWidget(parent)
{
}

void ViewController::init() {}

ViewController* ViewController::embedView(QWidget* page, QWidget* view)
{
    if (!page)
        return dynamic_cast<ViewController*>(view);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view);
    return dynamic_cast<ViewController*>(view);
}
