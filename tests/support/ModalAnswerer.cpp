#include "ModalAnswerer.h"

#include <QAbstractButton>
#include <QApplication>

ModalAnswerer::ModalAnswerer(QMessageBox::StandardButton a, QObject* parent) : QObject(parent), answer(a)
{
    connect(&timer, &QTimer::timeout, this, &ModalAnswerer::poll);
    timer.start(10);
}

void ModalAnswerer::poll()
{
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;
    if (box != last) {
        last = box;
        titles << box->windowTitle();
        texts << box->text();
    }
    if (holding)
        return;
    if (QAbstractButton* b = box->button(answer)) {
        last = nullptr;
        b->click();
    }
}
