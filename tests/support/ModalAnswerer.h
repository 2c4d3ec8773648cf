#pragma once

#include <QMessageBox>
#include <QObject>
#include <QStringList>
#include <QTimer>

// Answers modal message boxes from a timer, so that no test hangs on one: every box that
// becomes the active modal widget is recorded and answered with the given button.
class ModalAnswerer : public QObject
{
    Q_OBJECT
public:
    explicit ModalAnswerer(QMessageBox::StandardButton answer, QObject* parent = nullptr);

    void setAnswer(QMessageBox::StandardButton a) { answer = a; }
    // Leaves boxes open until released (to test what happens while a box is open).
    void hold(bool h) { holding = h; }

    int count() const { return texts.size(); }
    QStringList titles;
    QStringList texts;

private:
    void poll();

    QMessageBox::StandardButton answer;
    bool holding = false;
    QMessageBox* last = nullptr;
    QTimer timer;
};
