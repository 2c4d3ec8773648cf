<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="sv_SE">
<context>
    <name>FlowMeter</name>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="60"/>
        <source>Meter %1</source>
        <translation>Mätare %1</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="244"/>
        <source>MODBUS RTU flow meters on a serial line: flow, totalizer, temperature and alarms</source>
        <translation>MODBUS RTU-flödesmätare på en seriell linje: flöde, totalräknare, temperatur och larm</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="250"/>
        <location filename="../FlowMeterPlugin.cpp" line="292"/>
        <source>Scan bus</source>
        <translation>Sök på bussen</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="252"/>
        <location filename="../FlowMeterPlugin.cpp" line="294"/>
        <location filename="../FlowMeterPlugin.cpp" line="349"/>
        <source>Reset totalizer</source>
        <translation>Nollställ totalräknare</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="317"/>
        <location filename="../FlowMeterPlugin.cpp" line="323"/>
        <source>Scanning the bus</source>
        <translation>Söker på bussen</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="331"/>
        <location filename="../FlowMeterPlugin.cpp" line="333"/>
        <source>Scan found: %1</source>
        <translation>Sökningen fann: %1</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="331"/>
        <location filename="../FlowMeterPlugin.cpp" line="333"/>
        <location filename="../FlowMeterPlugin.cpp" line="631"/>
        <source>no meter</source>
        <translation>ingen mätare</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="348"/>
        <source>all meters</source>
        <translation>alla mätare</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="350"/>
        <source>Reset the totalizer of %1 to zero?</source>
        <translation>Nollställa totalräknaren för %1?</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="360"/>
        <source>Resetting the totalizer</source>
        <translation>Nollställer totalräknaren</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="369"/>
        <source>unloaded</source>
        <translation>urladdad</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="415"/>
        <source>port changed to %1</source>
        <translation>porten bytt till %1</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="417"/>
        <source>port %1 lost (device gone)</source>
        <translation>porten %1 förlorad (enheten borta)</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="419"/>
        <source>port %1 cannot be opened</source>
        <translation>porten %1 kan inte öppnas</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="431"/>
        <source>no port</source>
        <translation>ingen port</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="464"/>
        <source>device gone</source>
        <translation>enheten borta</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="464"/>
        <source>transaction failed</source>
        <translation>transaktionen misslyckades</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="476"/>
        <source>no answer</source>
        <translation>inget svar</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="480"/>
        <source>short answer (%1 of %2 bytes)</source>
        <translation>kort svar (%1 av %2 byte)</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="484"/>
        <source>corrupt check sum</source>
        <translation>felaktig kontrollsumma</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="488"/>
        <source>answer from another unit</source>
        <translation>svar från en annan enhet</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="492"/>
        <source>MODBUS exception %1</source>
        <translation>MODBUS-undantag %1</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="496"/>
        <source>malformed answer</source>
        <translation>felformat svar</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="651"/>
        <source>not confirmed</source>
        <translation>inte bekräftad</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="661"/>
        <source>Totalizer reset</source>
        <translation>Totalräknaren nollställd</translation>
    </message>
    <message>
        <location filename="../FlowMeterPlugin.cpp" line="662"/>
        <source>Totalizer reset failed: %1</source>
        <translation>Nollställning av totalräknaren misslyckades: %1</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="20"/>
        <source>Flow above limit</source>
        <translation>Flöde över gränsen</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="22"/>
        <source>No flow</source>
        <translation>Inget flöde</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="24"/>
        <source>Temperature above 60 °C</source>
        <translation>Temperatur över 60 °C</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="25"/>
        <source>No alarm</source>
        <translation>Inget larm</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="72"/>
        <source>-%1 min</source>
        <translation>-%1 min</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="73"/>
        <source>now</source>
        <translation>nu</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="133"/>
        <source>Totalizer:</source>
        <translation>Totalräknare:</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="134"/>
        <source>Temperature:</source>
        <translation>Temperatur:</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="135"/>
        <source>Alarm:</source>
        <translation>Larm:</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="136"/>
        <source>State:</source>
        <translation>Tillstånd:</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="137"/>
        <source>Last good reading:</source>
        <translation>Senaste goda avläsning:</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="138"/>
        <source>Poll errors:</source>
        <translation>Avfrågningsfel:</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="160"/>
        <source>Online</source>
        <translation>Ansluten</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="160"/>
        <source>Offline: %1</source>
        <translation>Frånkopplad: %1</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="160"/>
        <source>not read yet</source>
        <translation>inte läst än</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="162"/>
        <source>never</source>
        <translation>aldrig</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="169"/>
        <source>No flow meter configured</source>
        <translation>Ingen flödesmätare inställd</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="198"/>
        <source>Serial number:</source>
        <translation>Serienummer:</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="199"/>
        <source>Firmware:</source>
        <translation>Fast programvara:</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="200"/>
        <source>Port:</source>
        <translation>Port:</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="201"/>
        <source>MODBUS id:</source>
        <translation>MODBUS-id:</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="202"/>
        <location filename="../FlowPages.cpp" line="270"/>
        <source>Poll period:</source>
        <translation>Avfrågningsintervall:</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="203"/>
        <source>Last error:</source>
        <translation>Senaste fel:</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="215"/>
        <source>%1 ms</source>
        <translation>%1 ms</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="216"/>
        <source>none</source>
        <translation>inget</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="267"/>
        <source>Flow meter setup</source>
        <translation>Inställningar för flödesmätare</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="268"/>
        <source>Port (device path):</source>
        <translation>Port (enhetssökväg):</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="269"/>
        <source>Unit ids:</source>
        <translation>Enhets-id:</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="271"/>
        <source>Damping:</source>
        <translation>Dämpning:</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="272"/>
        <source>Calibration factor:</source>
        <translation>Kalibreringsfaktor:</translation>
    </message>
    <message>
        <location filename="../FlowPages.cpp" line="276"/>
        <source>for example 1,2,3</source>
        <translation>till exempel 1,2,3</translation>
    </message>
</context>
</TS>
