#pragma once

#include "MqttSettings.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

// Publishing to an MQTT broker, on the setup page: the broker, who the station is there, the
// password (a password field, never shown back in clear), TLS with its CA file, the topic prefix,
// interval, QoS, Home Assistant discovery and the spool's limit.
class MqttEditor : public QWidget
{
    Q_OBJECT
public:
    explicit MqttEditor(QWidget* parent = nullptr);

    void setSettings(const MqttSettings& m);
    MqttSettings settings() const;
    // Whether the user typed a password since setSettings (an untouched field keeps the stored one).
    bool passwordEdited() const { return edited; }
    void retranslate();
    // Its fields in the order Tab goes through them.
    QList<QWidget*> focusChain() const;
    // What the page found wrong, in words; empty when it can be saved.
    QString problem() const;

    QCheckBox* enabled;
    QLineEdit* host;
    QSpinBox* port;
    QLineEdit* clientId;
    QLineEdit* user;
    QLineEdit* password;
    QCheckBox* tls;
    QLineEdit* caFile;
    QPushButton* chooseCa;
    QLineEdit* prefix;
    QSpinBox* interval;
    QComboBox* qos;
    QCheckBox* homeAssistant;
    QSpinBox* spoolLimit;

private:
    void updateEnabled();

    QFormLayout* form;
    QLabel* heading;
    bool edited = false;
};
