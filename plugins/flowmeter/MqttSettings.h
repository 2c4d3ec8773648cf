#pragma once

#include <QString>

#include <cstdint>

// Where and how a station publishes to an MQTT broker. Plain data: the setup page fills it, the
// link reads it. The password lives here in memory only; what stores it elsewhere is not this.
struct MqttSettings
{
    // Off by default: a station publishes only where someone set up a broker.
    bool enabled = false;
    QString host;
    int port = 1883;
    // Empty: the link makes one from the host name, since a broker drops the older of two
    // clients with the same id.
    QString clientId;
    QString userName;
    QString password;
    bool tls = false;
    // The certificate authority that signed the broker's certificate (PEM); empty: the system's.
    QString caFile;
    // Empty: `corvane/<host name>` (defaultTopicPrefix()).
    QString topicPrefix;
    // Seconds between two publications of every meter's state.
    int publishIntervalS = 10;
    // 0 or 1: QoS 1 keeps a message in the spool until the broker acknowledged it.
    int qos = 1;
    bool homeAssistantDiscovery = false;
    // The most the spool keeps on disk while the broker cannot be reached; the oldest go first.
    std::int64_t spoolLimitBytes = 64 * 1024 * 1024;
};
