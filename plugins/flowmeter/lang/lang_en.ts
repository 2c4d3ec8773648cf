<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>FlowMeter</name>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="60"/>
        <source>Meter %1</source>
        <translation>Meter %1</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="244"/>
        <source>MODBUS RTU flow meters on a serial line: flow, totalizer, temperature and alarms</source>
        <translation>MODBUS RTU flow meters on a serial line: flow, totalizer, temperature and alarms</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="250"/>
        <location filename="../FlowMeterPlugin.cpp" line="292"/>
        <source>Scan bus</source>
        <translation>Scan bus</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="252"/>
        <location filename="../FlowMeterPlugin.cpp" line="294"/>
        <location filename="../FlowMeterPlugin.cpp" line="349"/>
        <source>Reset totalizer</source>
        <translation>Reset totalizer</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="317"/>
        <location filename="../FlowMeterPlugin.cpp" line="323"/>
        <source>Scanning the bus</source>
        <translation>Scanning the bus</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="331"/>
        <location filename="../FlowMeterPlugin.cpp" line="333"/>
        <source>Scan found: %1</source>
        <translation>Scan found: %1</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="331"/>
        <location filename="../FlowMeterPlugin.cpp" line="333"/>
        <location filename="../FlowMeterPlugin.cpp" line="631"/>
        <source>no meter</source>
        <translation>no meter</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="348"/>
        <source>all meters</source>
        <translation>all meters</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="350"/>
        <source>Reset the totalizer of %1 to zero?</source>
        <translation>Reset the totalizer of %1 to zero?</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="360"/>
        <source>Resetting the totalizer</source>
        <translation>Resetting the totalizer</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="369"/>
        <source>unloaded</source>
        <translation>unloaded</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="415"/>
        <source>port changed to %1</source>
        <translation>port changed to %1</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="417"/>
        <source>port %1 lost (device gone)</source>
        <translation>port %1 lost (device gone)</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="419"/>
        <source>port %1 cannot be opened</source>
        <translation>port %1 cannot be opened</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="431"/>
        <source>no port</source>
        <translation>no port</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="464"/>
        <source>device gone</source>
        <translation>device gone</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="464"/>
        <source>transaction failed</source>
        <translation>transaction failed</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="476"/>
        <source>no answer</source>
        <translation>no answer</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="480"/>
        <source>short answer (%1 of %2 bytes)</source>
        <translation>short answer (%1 of %2 bytes)</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="484"/>
        <source>corrupt check sum</source>
        <translation>corrupt check sum</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="488"/>
        <source>answer from another unit</source>
        <translation>answer from another unit</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="492"/>
        <source>MODBUS exception %1</source>
        <translation>MODBUS exception %1</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="496"/>
        <source>malformed answer</source>
        <translation>malformed answer</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="651"/>
        <source>not confirmed</source>
        <translation>not confirmed</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="661"/>
        <source>Totalizer reset</source>
        <translation>Totalizer reset</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="662"/>
        <source>Totalizer reset failed: %1</source>
        <translation>Totalizer reset failed: %1</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="20"/>
        <source>Flow above limit</source>
        <translation>Flow above limit</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="22"/>
        <source>No flow</source>
        <translation>No flow</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="24"/>
        <source>Temperature above 60 °C</source>
        <translation>Temperature above 60 °C</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="25"/>
        <source>No alarm</source>
        <translation>No alarm</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="72"/>
        <source>-%1 min</source>
        <translation>-%1 min</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="73"/>
        <source>now</source>
        <translation>now</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="133"/>
        <source>Totalizer:</source>
        <translation>Totalizer:</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="134"/>
        <source>Temperature:</source>
        <translation>Temperature:</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="135"/>
        <source>Alarm:</source>
        <translation>Alarm:</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="136"/>
        <source>State:</source>
        <translation>State:</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="137"/>
        <source>Last good reading:</source>
        <translation>Last good reading:</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="138"/>
        <source>Poll errors:</source>
        <translation>Poll errors:</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="160"/>
        <source>Online</source>
        <translation>Online</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="160"/>
        <source>Offline: %1</source>
        <translation>Offline: %1</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="160"/>
        <source>not read yet</source>
        <translation>not read yet</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="162"/>
        <source>never</source>
        <translation>never</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="169"/>
        <source>No flow meter configured</source>
        <translation>No flow meter configured</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="198"/>
        <source>Serial number:</source>
        <translation>Serial number:</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="199"/>
        <source>Firmware:</source>
        <translation>Firmware:</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="200"/>
        <source>Port:</source>
        <translation>Port:</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="201"/>
        <source>MODBUS id:</source>
        <translation>MODBUS id:</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="202"/>
        <location filename="../FlowPages.cpp" line="270"/>
        <source>Poll period:</source>
        <translation>Poll period:</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="203"/>
        <source>Last error:</source>
        <translation>Last error:</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="215"/>
        <source>%1 ms</source>
        <translation>%1 ms</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="216"/>
        <source>none</source>
        <translation>none</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="267"/>
        <source>Flow meter setup</source>
        <translation>Flow meter setup</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="268"/>
        <source>Port (device path):</source>
        <translation>Port (device path):</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="269"/>
        <source>Unit ids:</source>
        <translation>Unit ids:</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="271"/>
        <source>Damping:</source>
        <translation>Damping:</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="272"/>
        <source>Calibration factor:</source>
        <translation>Calibration factor:</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="276"/>
        <source>for example 1,2,3</source>
        <translation>for example 1,2,3</translation>
    </message>
</context>
</TS>
