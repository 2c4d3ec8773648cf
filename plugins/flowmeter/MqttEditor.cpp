#include "MqttEditor.h"

#include "MqttLink.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

MqttEditor::MqttEditor(QWidget* parent) : QWidget(parent)
{
    setObjectName("mqttEditor");
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(0, 0, 0, 0);
    heading = new QLabel;
    v->addWidget(heading);
    form = new QFormLayout;
    auto named = [](QWidget* w, const char* name) {
        w->setObjectName(name);
        return w;
    };
    enabled = static_cast<QCheckBox*>(named(new QCheckBox, "mqttEnabled"));
    host = static_cast<QLineEdit*>(named(new QLineEdit, "mqttHost"));
    port = static_cast<QSpinBox*>(named(new QSpinBox, "mqttPort"));
    port->setRange(1, 65535);
    clientId = static_cast<QLineEdit*>(named(new QLineEdit, "mqttClientId"));
    user = static_cast<QLineEdit*>(named(new QLineEdit, "mqttUser"));
    password = static_cast<QLineEdit*>(named(new QLineEdit, "mqttPassword"));
    password->setEchoMode(QLineEdit::Password);
    tls = static_cast<QCheckBox*>(named(new QCheckBox, "mqttTls"));
    caFile = static_cast<QLineEdit*>(named(new QLineEdit, "mqttCaFile"));
    chooseCa = static_cast<QPushButton*>(named(new QPushButton, "mqttCaButton"));
    auto* caRow = new QHBoxLayout;
    caRow->addWidget(caFile, 1);
    caRow->addWidget(chooseCa);
    prefix = static_cast<QLineEdit*>(named(new QLineEdit, "mqttPrefix"));
    interval = static_cast<QSpinBox*>(named(new QSpinBox, "mqttInterval"));
    interval->setRange(1, 3600);
    interval->setSuffix(" s");
    qos = static_cast<QComboBox*>(named(new QComboBox, "mqttQos"));
    qos->addItems({"0", "1"});
    homeAssistant = static_cast<QCheckBox*>(named(new QCheckBox, "mqttHomeAssistant"));
    spoolLimit = static_cast<QSpinBox*>(named(new QSpinBox, "mqttSpoolLimit"));
    spoolLimit->setRange(1, 16 * 1024);
    spoolLimit->setSuffix(" MiB");
    form->addRow(new QLabel, enabled);
    form->addRow(new QLabel, host);
    form->addRow(new QLabel, port);
    form->addRow(new QLabel, clientId);
    form->addRow(new QLabel, user);
    form->addRow(new QLabel, password);
    form->addRow(new QLabel, tls);
    form->addRow(new QLabel, caRow);
    form->addRow(new QLabel, prefix);
    form->addRow(new QLabel, interval);
    form->addRow(new QLabel, qos);
    form->addRow(new QLabel, homeAssistant);
    form->addRow(new QLabel, spoolLimit);
    v->addLayout(form);
    connect(enabled, &QCheckBox::toggled, this, &MqttEditor::updateEnabled);
    connect(tls, &QCheckBox::toggled, this, &MqttEditor::updateEnabled);
    connect(password, &QLineEdit::textEdited, this, [this] { edited = true; });
    connect(chooseCa, &QPushButton::clicked, this, [this] {
        const QString chosen = QFileDialog::getOpenFileName(this, QCoreApplication::translate("FlowMeter", "CA certificate"), caFile->text(),
                                                            QCoreApplication::translate("FlowMeter", "Certificates (*.pem *.crt);;All files (*)"));
        if (!chosen.isEmpty())
            caFile->setText(chosen);
    });
    retranslate();
    setSettings(MqttSettings());
}

void MqttEditor::setSettings(const MqttSettings& m)
{
    enabled->setChecked(m.enabled);
    host->setText(m.host);
    port->setValue(m.port);
    clientId->setText(m.clientId);
    user->setText(m.userName);
    password->setText(m.password);
    edited = false;
    tls->setChecked(m.tls);
    caFile->setText(m.caFile);
    prefix->setText(m.topicPrefix);
    interval->setValue(m.publishIntervalS);
    qos->setCurrentIndex(m.qos != 0 ? 1 : 0);
    homeAssistant->setChecked(m.homeAssistantDiscovery);
    // Rounded up: a limit of a few KiB from a hand-written file is not shown as 0.
    spoolLimit->setValue(int((m.spoolLimitBytes + (1 << 20) - 1) >> 20));
    updateEnabled();
}

MqttSettings MqttEditor::settings() const
{
    MqttSettings m;
    m.enabled = enabled->isChecked();
    m.host = host->text().trimmed();
    m.port = port->value();
    m.clientId = clientId->text().trimmed();
    m.userName = user->text();
    m.password = password->text();
    m.tls = tls->isChecked();
    m.caFile = caFile->text().trimmed();
    m.topicPrefix = prefix->text().trimmed();
    m.publishIntervalS = interval->value();
    m.qos = qos->currentIndex();
    m.homeAssistantDiscovery = homeAssistant->isChecked();
    m.spoolLimitBytes = std::int64_t(spoolLimit->value()) << 20;
    return m;
}

QString MqttEditor::problem() const
{
    const MqttSettings m = settings();
    if (!m.enabled)
        return QString();
    if (m.host.isEmpty())
        return QCoreApplication::translate("FlowMeter", "MQTT: the broker's host is missing");
    if (m.tls && !m.caFile.isEmpty() && !QFileInfo(m.caFile).isReadable())
        return QCoreApplication::translate("FlowMeter", "MQTT: the CA file %1 cannot be read").arg(m.caFile);
    const QString p = m.topicPrefix;
    if (p.contains('+') || p.contains('#'))
        return QCoreApplication::translate("FlowMeter", "MQTT: the topic prefix may not hold + or #");
    return QString();
}

QList<QWidget*> MqttEditor::focusChain() const
{
    return {enabled, host, port, clientId, user, password, tls, caFile, chooseCa, prefix, interval, qos, homeAssistant,
            spoolLimit};
}

void MqttEditor::updateEnabled()
{
    const bool on = enabled->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{host, port, clientId, user, password, tls, prefix, interval, qos,
                                                      homeAssistant, spoolLimit})
        w->setEnabled(on);
    caFile->setEnabled(on && tls->isChecked());
    chooseCa->setEnabled(on && tls->isChecked());
}

void MqttEditor::retranslate()
{
    heading->setText(QCoreApplication::translate("FlowMeter", "Publishing to an MQTT broker"));
    enabled->setText(QCoreApplication::translate("FlowMeter", "Publish the meters"));
    tls->setText(QCoreApplication::translate("FlowMeter", "Encrypted (TLS)"));
    homeAssistant->setText(QCoreApplication::translate("FlowMeter", "Announce the meters to Home Assistant"));
    chooseCa->setText(QCoreApplication::translate("FlowMeter", "Choose..."));
    prefix->setPlaceholderText(MqttLink::defaultTopicPrefix());
    clientId->setPlaceholderText(QCoreApplication::translate("FlowMeter", "made from the host name"));
    caFile->setPlaceholderText(QCoreApplication::translate("FlowMeter", "the system's certificate authorities"));
    const char* names[] = {QT_TRANSLATE_NOOP("FlowMeter", "Publishing:"),
                           QT_TRANSLATE_NOOP("FlowMeter", "Broker host:"),
                           QT_TRANSLATE_NOOP("FlowMeter", "Port:"),
                           QT_TRANSLATE_NOOP("FlowMeter", "Client id:"),
                           QT_TRANSLATE_NOOP("FlowMeter", "User name:"),
                           QT_TRANSLATE_NOOP("FlowMeter", "Password:"),
                           QT_TRANSLATE_NOOP("FlowMeter", "Encryption:"),
                           QT_TRANSLATE_NOOP("FlowMeter", "CA file:"),
                           QT_TRANSLATE_NOOP("FlowMeter", "Topic prefix:"),
                           QT_TRANSLATE_NOOP("FlowMeter", "Publish every:"),
                           QT_TRANSLATE_NOOP("FlowMeter", "Delivery (QoS):"),
                           QT_TRANSLATE_NOOP("FlowMeter", "Discovery:"),
                           QT_TRANSLATE_NOOP("FlowMeter", "Spool limit:")};
    for (int i = 0; i < int(std::size(names)); ++i)
        static_cast<QLabel*>(form->itemAt(i, QFormLayout::LabelRole)->widget())
            ->setText(QCoreApplication::translate("FlowMeter", names[i]));
}
