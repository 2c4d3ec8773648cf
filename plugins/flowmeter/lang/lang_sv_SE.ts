<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="sv_SE">
<context>
    <name>FlowMeter</name>
    <message>
        <source>Meter %1</source>
        <translation>Mätare %1</translation>
    </message>
    <message>
        <source>MODBUS RTU flow meters on a serial line: flow, totalizer, temperature and alarms</source>
        <translation>MODBUS RTU-flödesmätare på en seriell linje: flöde, totalräknare, temperatur och larm</translation>
    </message>
    <message>
        <source>Scan bus</source>
        <translation>Sök på bussen</translation>
    </message>
    <message>
        <source>Reset totalizer</source>
        <translation>Nollställ totalräknare</translation>
    </message>
    <message>
        <source>Scanning the bus</source>
        <translation>Söker på bussen</translation>
    </message>
    <message>
        <source>Scan found: %1</source>
        <translation>Sökningen fann: %1</translation>
    </message>
    <message>
        <source>no meter</source>
        <translation>ingen mätare</translation>
    </message>
    <message>
        <source>all meters</source>
        <translation>alla mätare</translation>
    </message>
    <message>
        <source>Reset the totalizer of %1 to zero?</source>
        <translation>Nollställa totalräknaren för %1?</translation>
    </message>
    <message>
        <source>Resetting the totalizer</source>
        <translation>Nollställer totalräknaren</translation>
    </message>
    <message>
        <source>unloaded</source>
        <translation>urladdad</translation>
    </message>
    <message>
        <source>port changed to %1</source>
        <translation>porten bytt till %1</translation>
    </message>
    <message>
        <source>port %1 lost (device gone)</source>
        <translation>porten %1 förlorad (enheten borta)</translation>
    </message>
    <message>
        <source>port %1 cannot be opened</source>
        <translation>porten %1 kan inte öppnas</translation>
    </message>
    <message>
        <source>port %1 cannot be opened: %2</source>
        <translation>porten %1 kan inte öppnas: %2</translation>
    </message>
    <message>
        <source>no port</source>
        <translation>ingen port</translation>
    </message>
    <message>
        <source>device gone</source>
        <translation>enheten borta</translation>
    </message>
    <message>
        <source>transaction failed</source>
        <translation>transaktionen misslyckades</translation>
    </message>
    <message>
        <source>no answer</source>
        <translation>inget svar</translation>
    </message>
    <message>
        <source>short answer (%1 of %2 bytes)</source>
        <translation>kort svar (%1 av %2 byte)</translation>
    </message>
    <message>
        <source>corrupt check sum</source>
        <translation>felaktig kontrollsumma</translation>
    </message>
    <message>
        <source>answer from another unit</source>
        <translation>svar från en annan enhet</translation>
    </message>
    <message>
        <source>MODBUS exception %1</source>
        <translation>MODBUS-undantag %1</translation>
    </message>
    <message>
        <source>malformed answer</source>
        <translation>felformat svar</translation>
    </message>
    <message>
        <source>not confirmed</source>
        <translation>inte bekräftad</translation>
    </message>
    <message>
        <source>Totalizer reset</source>
        <translation>Totalräknaren nollställd</translation>
    </message>
    <message>
        <source>Totalizer reset failed: %1</source>
        <translation>Nollställning av totalräknaren misslyckades: %1</translation>
    </message>
    <message>
        <source>Flow above limit</source>
        <translation>Flöde över gränsen</translation>
    </message>
    <message>
        <source>Measuring</source>
        <translation>Mäter</translation>
    </message>
    <message>
        <source>Empty pipe</source>
        <translation>Tomt rör</translation>
    </message>
    <message>
        <source>Sensor fault</source>
        <translation>Givarfel</translation>
    </message>
    <message>
        <source>Battery low</source>
        <translation>Lågt batteri</translation>
    </message>
    <message>
        <source>Flow velocity</source>
        <translation>Flödeshastighet</translation>
    </message>
    <message>
        <source>Supply voltage</source>
        <translation>Matningsspänning</translation>
    </message>
    <message>
        <source>Flow meter: setup not saved: %1</source>
        <translation>Flödesmätare: inställningarna sparades inte: %1</translation>
    </message>
    <message>
        <source>No flow</source>
        <translation>Inget flöde</translation>
    </message>
    <message>
        <source>Temperature above 60 °C</source>
        <translation>Temperatur över 60 °C</translation>
    </message>
    <message>
        <source>No alarm</source>
        <translation>Inget larm</translation>
    </message>
    <message>
        <source>-%1 min</source>
        <translation>-%1 min</translation>
    </message>
    <message>
        <source>now</source>
        <translation>nu</translation>
    </message>
    <message>
        <source>Totalizer:</source>
        <translation>Totalräknare:</translation>
    </message>
    <message>
        <source>Temperature:</source>
        <translation>Temperatur:</translation>
    </message>
    <message>
        <source>Alarm:</source>
        <translation>Larm:</translation>
    </message>
    <message>
        <source>State:</source>
        <translation>Tillstånd:</translation>
    </message>
    <message>
        <source>Last good reading:</source>
        <translation>Senaste goda avläsning:</translation>
    </message>
    <message>
        <source>Poll errors:</source>
        <translation>Avfrågningsfel:</translation>
    </message>
    <message>
        <source>Online</source>
        <translation>Ansluten</translation>
    </message>
    <message>
        <source>Offline: %1</source>
        <translation>Frånkopplad: %1</translation>
    </message>
    <message>
        <source>%1 (away %2 times)</source>
        <translation>%1 (borta %2 gånger)</translation>
    </message>
    <message>
        <source>%1 (%2 times)</source>
        <translation>%1 (%2 gånger)</translation>
    </message>
    <message>
        <source>%1 times since %2, the last time at %3</source>
        <translation>%1 gånger sedan %2, senast %3</translation>
    </message>
    <message>
        <source>not read yet</source>
        <translation>inte läst än</translation>
    </message>
    <message>
        <source>never</source>
        <translation>aldrig</translation>
    </message>
    <message>
        <source>No flow meter configured</source>
        <translation>Ingen flödesmätare inställd</translation>
    </message>
    <message>
        <source>Serial number:</source>
        <translation>Serienummer:</translation>
    </message>
    <message>
        <source>Firmware:</source>
        <translation>Fast programvara:</translation>
    </message>
    <message>
        <source>Port:</source>
        <translation>Port:</translation>
    </message>
    <message>
        <source>MODBUS id:</source>
        <translation>MODBUS-id:</translation>
    </message>
    <message>
        <source>Poll period:</source>
        <translation>Avfrågningsintervall:</translation>
    </message>
    <message>
        <source>Last error:</source>
        <translation>Senaste fel:</translation>
    </message>
    <message>
        <source>%1 ms</source>
        <translation>%1 ms</translation>
    </message>
    <message>
        <source>none</source>
        <translation>inget</translation>
    </message>
    <message>
        <source>Flow meter setup</source>
        <translation>Inställningar för flödesmätare</translation>
    </message>
    <message>
        <source>Port (device path):</source>
        <translation>Port (enhetssökväg):</translation>
    </message>
    <message>
        <source>Unit ids:</source>
        <translation>Enhets-id:</translation>
    </message>
    <message>
        <source>Damping:</source>
        <translation>Dämpning:</translation>
    </message>
    <message>
        <source>Calibration factor:</source>
        <translation>Kalibreringsfaktor:</translation>
    </message>
    <message>
        <source>Not unit ids (1 to 247), left out: %1</source>
        <translation>Inte enhets-id (1 till 247), utelämnas: %1</translation>
    </message>
    <message>
        <source>for example 1,2,3 or 1-5</source>
        <translation>till exempel 1,2,3 eller 1-5</translation>
    </message>
    <message>
        <source>Answer time-out:</source>
        <translation>Svarstid (timeout):</translation>
    </message>
    <message>
        <source>Flow meter: port %1 cannot be opened; trying again</source>
        <translation>Flödesmätare: porten %1 kan inte öppnas; försöker igen</translation>
    </message>
    <message>
        <source>Scan stopped: %1</source>
        <translation>Sökningen avbröts: %1</translation>
    </message>
    <message>
        <source>the plug-in is closing</source>
        <translation>insticksmodulen stängs</translation>
    </message>
    <message>
        <source>port %1 lost</source>
        <translation>porten %1 förlorad</translation>
    </message>
    <message>
        <source>%1: damping not written (%2)</source>
        <translation>%1: dämpningen skrevs inte (%2)</translation>
    </message>
    <message>
        <source>not a number</source>
        <translation>inte ett tal</translation>
    </message>
    <message>
        <source>infinite</source>
        <translation>oändligt</translation>
    </message>
    <message>
        <source>out of range</source>
        <translation>utanför rimligt område</translation>
    </message>
    <message>
        <source>flow</source>
        <translation>flöde</translation>
    </message>
    <message>
        <source>totalizer</source>
        <translation>totalräknare</translation>
    </message>
    <message>
        <source>temperature</source>
        <translation>temperatur</translation>
    </message>
    <message>
        <source>invalid: %1</source>
        <translation>ogiltigt: %1</translation>
    </message>
    <message>
        <source>No valid measurement: %1</source>
        <translation>Inget giltigt mätvärde: %1</translation>
    </message>
    <message>
        <source>Flow meter: settings could not be saved to %1</source>
        <translation>Flödesmätare: inställningarna kunde inte sparas i %1</translation>
    </message>
    <message>
        <source>cancelled</source>
        <translation>på användarens begäran</translation>
    </message>
    <message>
        <source>Cancel scan</source>
        <translation>Avbryt sökningen</translation>
    </message>
    <message>
        <source>no permission; on Debian: sudo adduser $USER dialout, then log in again</source>
        <translation>ingen behörighet; på Debian: sudo adduser $USER dialout, logga sedan in igen</translation>
    </message>
    <message>
        <source>not present; is the adapter plugged in?</source>
        <translation>finns inte; är adaptern ansluten?</translation>
    </message>
    <message>
        <source>in use by another program: %1</source>
        <translation>används av ett annat program: %1</translation>
    </message>
    <message>
        <source>not a serial device</source>
        <translation>ingen seriell enhet</translation>
    </message>
    <message>
        <source>open at other line settings: %1</source>
        <translation>öppen med andra linjeinställningar: %1</translation>
    </message>
    <message>
        <source>the device refused the line settings</source>
        <translation>enheten tog inte emot linjeinställningarna</translation>
    </message>
    <message>
        <source>Flow meter: port %1 cannot be opened (%2); trying again</source>
        <translation>Flödesmätare: porten %1 kan inte öppnas (%2); försöker igen</translation>
    </message>
    <message>
        <source>%1, not open: %2</source>
        <translation>%1, inte öppen: %2</translation>
    </message>
    <message>
        <source>Line:</source>
        <translation>Linje:</translation>
    </message>
    <message>
        <source>Baud rate:</source>
        <translation>Hastighet (baud):</translation>
    </message>
    <message>
        <source>Data bits:</source>
        <translation>Databitar:</translation>
    </message>
    <message>
        <source>Parity:</source>
        <translation>Paritet:</translation>
    </message>
    <message>
        <source>Stop bits:</source>
        <translation>Stoppbitar:</translation>
    </message>
    <message>
        <source>None (N)</source>
        <translation>Ingen (N)</translation>
    </message>
    <message>
        <source>Even (E)</source>
        <translation>Jämn (E)</translation>
    </message>
    <message>
        <source>Odd (O)</source>
        <translation>Udda (O)</translation>
    </message>
    <message>
        <source>for example /dev/ttyUSB0</source>
        <translation>till exempel /dev/ttyUSB0</translation>
    </message>
    <message>
        <source>the value cannot be written</source>
        <translation>värdet kan inte skrivas</translation>
    </message>
    <message>
        <source>below the lowest value, %1</source>
        <translation>under det lägsta värdet, %1</translation>
    </message>
    <message>
        <source>above the highest value, %1</source>
        <translation>över det högsta värdet, %1</translation>
    </message>
    <message>
        <source>the model&apos;s scale is unusable</source>
        <translation>modellens skala går inte att använda</translation>
    </message>
    <message>
        <source>outside what the register can hold</source>
        <translation>utanför vad registret rymmer</translation>
    </message>
    <message>
        <source>outside what the register can hold (%1 to %2)</source>
        <translation>utanför vad registret rymmer (%1 till %2)</translation>
    </message>
    <message>
        <source>bit %1</source>
        <translation>bit %1</translation>
    </message>
    <message>
        <source>not read</source>
        <translation>inte läst</translation>
    </message>
    <message>
        <source>Flow</source>
        <translation>Flöde</translation>
    </message>
    <message>
        <source>Totalizer</source>
        <translation>Totalräknare</translation>
    </message>
    <message>
        <source>Temperature</source>
        <translation>Temperatur</translation>
    </message>
    <message>
        <source>Alarms</source>
        <translation>Larm</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>Serial number</source>
        <translation>Serienummer</translation>
    </message>
    <message>
        <source>Firmware</source>
        <translation>Fast programvara</translation>
    </message>
    <message>
        <source>Damping</source>
        <translation>Dämpning</translation>
    </message>
    <message>
        <source>Alarm limit</source>
        <translation>Larmgräns</translation>
    </message>
    <message>
        <source>Calibration factor</source>
        <translation>Kalibreringsfaktor</translation>
    </message>
    <message>
        <source>%1:</source>
        <translation>%1:</translation>
    </message>
    <message>
        <source>Flow shown in:</source>
        <translation>Flöde visas i:</translation>
    </message>
    <message>
        <source>Volume shown in:</source>
        <translation>Volym visas i:</translation>
    </message>
    <message>
        <source>Temperature shown in:</source>
        <translation>Temperatur visas i:</translation>
    </message>
    <message>
        <source>Add line</source>
        <translation>Lägg till linje</translation>
    </message>
    <message>
        <source>Remove line</source>
        <translation>Ta bort linje</translation>
    </message>
    <message>
        <source>Add meter</source>
        <translation>Lägg till mätare</translation>
    </message>
    <message>
        <source>Remove meter</source>
        <translation>Ta bort mätare</translation>
    </message>
    <message>
        <source>Meters on this line:</source>
        <translation>Mätare på den här linjen:</translation>
    </message>
    <message>
        <source>Unit id</source>
        <translation>Enhets-id</translation>
    </message>
    <message>
        <source>Model</source>
        <translation>Modell</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Namn</translation>
    </message>
    <message>
        <source>Model files that could not be read:</source>
        <translation>Modellfiler som inte kunde läsas:</translation>
    </message>
    <message>
        <source>No model of this name was loaded</source>
        <translation>Ingen modell med det här namnet har lästs in</translation>
    </message>
    <message>
        <source>Line %1: %2, %3</source>
        <translation>Linje %1: %2, %3</translation>
    </message>
    <message>
        <source>Line %1 has no port.</source>
        <translation>Linje %1 har ingen port.</translation>
    </message>
    <message>
        <source>Lines %1 and %2 use the same port %3: a port serves one line.</source>
        <translation>Linje %1 och %2 använder samma port %3: en port betjänar en linje.</translation>
    </message>
    <message>
        <source>Line %1 has no meter.</source>
        <translation>Linje %1 har ingen mätare.</translation>
    </message>
    <message>
        <source>Line %1: unit id %2 is given to more than one meter.</source>
        <translation>Linje %1: enhets-id %2 är givet åt mer än en mätare.</translation>
    </message>
    <message>
        <source>Line %1: the port name holds the control character %2 (character %3).</source>
        <translation>Linje %1: portnamnet innehåller styrtecknet %2 (tecken %3).</translation>
    </message>
    <message>
        <source>Line %1: the port name holds the direction-changing character %2 (character %3).</source>
        <translation>Linje %1: portnamnet innehåller det riktningsändrande tecknet %2 (tecken %3).</translation>
    </message>
    <message>
        <source>Line %1, unit id %2: the name holds the control character %3 (character %4).</source>
        <translation>Linje %1, enhets-id %2: namnet innehåller styrtecknet %3 (tecken %4).</translation>
    </message>
    <message>
        <source>Line %1, unit id %2: the name holds the direction-changing character %3 (character %4).</source>
        <translation>Linje %1, enhets-id %2: namnet innehåller det riktningsändrande tecknet %3 (tecken %4).</translation>
    </message>
    <message>
        <source>Line %1, unit id %2: unknown model &quot;%3&quot;.</source>
        <translation>Linje %1, enhets-id %2: okänd modell ”%3”.</translation>
    </message>
    <message>
        <source>Alarm limit:</source>
        <translation>Larmgräns:</translation>
    </message>
    <message>
        <source>Write limit</source>
        <translation>Skriv gränsen</translation>
    </message>
    <message>
        <source>This meter&apos;s model has no alarm limit.</source>
        <translation>Mätarens modell har ingen larmgräns.</translation>
    </message>
    <message>
        <source>The model does not let this limit be written.</source>
        <translation>Modellen tillåter inte att gränsen skrivs.</translation>
    </message>
    <message>
        <source>From %1 to %2</source>
        <translation>Från %1 till %2</translation>
    </message>
    <message>
        <source>At least %1</source>
        <translation>Minst %1</translation>
    </message>
    <message>
        <source>At most %1</source>
        <translation>Högst %1</translation>
    </message>
    <message>
        <source>Not written: &quot;%1&quot; is not a number.</source>
        <translation>Inte skrivet: ”%1” är inget tal.</translation>
    </message>
    <message>
        <source>Not written: %1 is below the lowest limit the meter takes, %2.</source>
        <translation>Inte skrivet: %1 är under den lägsta gräns mätaren tar, %2.</translation>
    </message>
    <message>
        <source>Not written: %1 is above the highest limit the meter takes, %2.</source>
        <translation>Inte skrivet: %1 är över den högsta gräns mätaren tar, %2.</translation>
    </message>
    <message>
        <source>Not written: %1</source>
        <translation>Inte skrivet: %1</translation>
    </message>
    <message>
        <source>Sending %1 to the meter.</source>
        <translation>Skickar %1 till mätaren.</translation>
    </message>
    <message>
        <source>Line %1: unit id %2 is not one of 1 to 247.</source>
        <translation>Linje %1: enhets-id %2 är inte ett av 1 till 247.</translation>
    </message>
    <message>
        <source>model %1 not found</source>
        <translation>modell %1 finns inte</translation>
    </message>
    <message>
        <source>its model has no reset command</source>
        <translation>dess modell har inget återställningskommando</translation>
    </message>
    <message>
        <source>its model has no such value</source>
        <translation>dess modell har inget sådant värde</translation>
    </message>
    <message>
        <source>No meter model could be loaded: no meter can be read.</source>
        <translation>Ingen mätarmodell kunde läsas in: ingen mätare kan läsas.</translation>
    </message>
    <message>
        <source>Meter models: %1</source>
        <translation>Mätarmodeller: %1</translation>
    </message>
    <message>
        <source>the meter&apos;s model has no alarm limit</source>
        <translation>mätarens modell har ingen larmgräns</translation>
    </message>
    <message>
        <source>not a value the meter can take</source>
        <translation>inget värde som mätaren kan ta emot</translation>
    </message>
    <message>
        <source>Alarm limit not written: %1</source>
        <translation>Larmgränsen skrevs inte: %1</translation>
    </message>
    <message>
        <source>%1: alarm limit written</source>
        <translation>%1: larmgränsen skriven</translation>
    </message>
    <message>
        <source>%1: alarm limit not written (%2)</source>
        <translation>%1: larmgränsen skrevs inte (%2)</translation>
    </message>
    <message>
        <source>Model:</source>
        <translation>Modell:</translation>
    </message>
    <message>
        <source>%1 (not found)</source>
        <translation>%1 (finns inte)</translation>
    </message>
    <message>
        <source>Alarm: %1</source>
        <translation>Larm: %1</translation>
    </message>
    <message>
        <source>Alarm: %1 and %2 more</source>
        <translation>Larm: %1 och %2 till</translation>
    </message>
    <message>
        <source>%1 offline</source>
        <translation>%1 frånkopplad</translation>
    </message>
    <message>
        <source>%1 meters offline</source>
        <translation>%1 mätare frånkopplade</translation>
    </message>
    <message>
        <source>%1: no valid reading</source>
        <translation>%1: inget giltigt mätvärde</translation>
    </message>
    <message>
        <source>%1 meters without a valid reading</source>
        <translation>%1 mätare utan giltigt mätvärde</translation>
    </message>
    <message>
        <source>No day to record line %1 for.</source>
        <translation>Ingen dag att spela in linje %1 för.</translation>
    </message>
    <message>
        <source>Line %1 has no free record file name for %2 in %3.</source>
        <translation>Linje %1 har inget ledigt filnamn för inspelningen %2 i %3.</translation>
    </message>
    <message>
        <source>The folder %1 for the recordings cannot be made: %2</source>
        <translation>Mappen %1 för inspelningarna kan inte skapas: %2</translation>
    </message>
    <message>
        <source>No space left to record to %1: %2</source>
        <translation>Inget utrymme kvar att spela in till %1: %2</translation>
    </message>
    <message>
        <source>The recording %1 cannot be written: %2</source>
        <translation>Inspelningen %1 kan inte skrivas: %2</translation>
    </message>
    <message>
        <source>Writing the recording %1 failed: %2</source>
        <translation>Det gick inte att skriva inspelningen %1: %2</translation>
    </message>
    <message>
        <source>Recording stopped: %1</source>
        <translation>Inspelningen stoppad: %1</translation>
    </message>
    <message>
        <source>Recording resumed</source>
        <translation>Inspelningen återupptagen</translation>
    </message>
    <message>
        <source>Recording every %1 s to %2</source>
        <translation>Spelar in var %1 s till %2</translation>
    </message>
    <message>
        <source>Recording stopped</source>
        <translation>Inspelningen stoppad</translation>
    </message>
    <message>
        <source>Start recording</source>
        <translation>Starta inspelning</translation>
    </message>
    <message>
        <source>Stop recording</source>
        <translation>Stoppa inspelning</translation>
    </message>
    <message>
        <source>Recording</source>
        <translation>Inspelning</translation>
    </message>
    <message>
        <source>Recording folder</source>
        <translation>Mapp för inspelningar</translation>
    </message>
    <message>
        <source>The recording folder must be an absolute path, starting with /.</source>
        <translation>Mappen för inspelningar måste anges med fullständig sökväg, som börjar med /.</translation>
    </message>
    <message>
        <source>The recording folder cannot be the root folder /.</source>
        <translation>Mappen för inspelningar kan inte vara rotmappen /.</translation>
    </message>
    <message>
        <source>Empty: %1</source>
        <translation>Tom: %1</translation>
    </message>
    <message>
        <source>Choose...</source>
        <translation>Välj...</translation>
    </message>
    <message>
        <source>Folder:</source>
        <translation>Mapp:</translation>
    </message>
    <message>
        <source>Interval:</source>
        <translation>Intervall:</translation>
    </message>
    <message>
        <source>the disk does not keep up with the recording in %1</source>
        <translation>disken hinner inte med inspelningen i %1</translation>
    </message>
    <message>
        <source>the records folder %1 cannot be made</source>
        <translation>mappen %1 för inspelningarna kan inte skapas</translation>
    </message>
    <message>
        <source>the records folder %1 is in use by another Corvane (process %2 on %3)</source>
        <translation>mappen %1 för inspelningarna används av en annan Corvane (process %2 på %3)</translation>
    </message>
    <message>
        <source>the records folder %1 is in use by another Corvane</source>
        <translation>mappen %1 för inspelningarna används av en annan Corvane</translation>
    </message>
    <message>
        <source>no lock can be made in the records folder %1: no permission</source>
        <translation>inget lås kan skapas i mappen %1 för inspelningarna: behörighet saknas</translation>
    </message>
    <message>
        <source>no lock can be made in the records folder %1</source>
        <translation>inget lås kan skapas i mappen %1 för inspelningarna</translation>
    </message>
    <message>
        <source>Span:</source>
        <translation>Tidsspann:</translation>
    </message>
    <message>
        <source>5 minutes</source>
        <translation>5 minuter</translation>
    </message>
    <message>
        <source>1 hour</source>
        <translation>1 timme</translation>
    </message>
    <message>
        <source>8 hours</source>
        <translation>8 timmar</translation>
    </message>
    <message>
        <source>24 hours</source>
        <translation>24 timmar</translation>
    </message>
    <message>
        <source>7 days</source>
        <translation>7 dygn</translation>
    </message>
    <message>
        <source>Flow (%1)</source>
        <translation>Flöde (%1)</translation>
    </message>
    <message>
        <source>Export picture...</source>
        <translation>Exportera bild...</translation>
    </message>
    <message>
        <source>Export data...</source>
        <translation>Exportera data...</translation>
    </message>
    <message>
        <source>Export picture</source>
        <translation>Exportera bild</translation>
    </message>
    <message>
        <source>Export data</source>
        <translation>Exportera data</translation>
    </message>
    <message>
        <source>PNG pictures (*.png)</source>
        <translation>PNG-bilder (*.png)</translation>
    </message>
    <message>
        <source>CSV files (*.csv)</source>
        <translation>CSV-filer (*.csv)</translation>
    </message>
    <message>
        <source>Export</source>
        <translation>Exportera</translation>
    </message>
    <message>
        <source>%1 was not written: %2</source>
        <translation>%1 skrevs inte: %2</translation>
    </message>
    <message>
        <source>Time</source>
        <translation>Tid</translation>
    </message>
    <message>
        <source>Line</source>
        <translation>Linje</translation>
    </message>
    <message>
        <source>Meter</source>
        <translation>Mätare</translation>
    </message>
    <message>
        <source>Text</source>
        <translation>Beskrivning</translation>
    </message>
    <message>
        <source>End</source>
        <translation>Slut</translation>
    </message>
    <message>
        <source>Acknowledged</source>
        <translation>Kvitterat</translation>
    </message>
    <message>
        <source>ongoing</source>
        <translation>pågår</translation>
    </message>
    <message>
        <source>Acknowledge</source>
        <translation>Kvittera</translation>
    </message>
    <message>
        <source>Acknowledge all</source>
        <translation>Kvittera alla</translation>
    </message>
    <message>
        <source>Alarms (%1)</source>
        <translation>Larm (%1)</translation>
    </message>
    <message>
        <source>Flow meter</source>
        <translation>Flödesmätare</translation>
    </message>
    <message>
        <source>Line %1 (%2), unit %3: %4</source>
        <translation>Linje %1 (%2), enhet %3: %4</translation>
    </message>
    <message>
        <source>MQTT: the password could not be stored: %1</source>
        <translation>MQTT: lösenordet kunde inte sparas: %1</translation>
    </message>
    <message>
        <source>connecting</source>
        <translation>ansluter</translation>
    </message>
    <message>
        <source>MQTT: %1</source>
        <translation>MQTT: %1</translation>
    </message>
    <message>
        <source>CA certificate</source>
        <translation>CA-certifikat</translation>
    </message>
    <message>
        <source>Certificates (*.pem *.crt);;All files (*)</source>
        <translation>Certifikat (*.pem *.crt);;Alla filer (*)</translation>
    </message>
    <message>
        <source>MQTT: the broker&apos;s host is missing</source>
        <translation>MQTT: brokerns värd saknas</translation>
    </message>
    <message>
        <source>MQTT: the CA file %1 cannot be read</source>
        <translation>MQTT: CA-filen %1 kan inte läsas</translation>
    </message>
    <message>
        <source>MQTT: the topic prefix may not hold + or #</source>
        <translation>MQTT: ämnesprefixet får inte innehålla + eller #</translation>
    </message>
    <message>
        <source>Publishing to an MQTT broker</source>
        <translation>Publicering till en MQTT-broker</translation>
    </message>
    <message>
        <source>Publish the meters</source>
        <translation>Publicera mätarna</translation>
    </message>
    <message>
        <source>Encrypted (TLS)</source>
        <translation>Krypterad (TLS)</translation>
    </message>
    <message>
        <source>Announce the meters to Home Assistant</source>
        <translation>Anmäl mätarna till Home Assistant</translation>
    </message>
    <message>
        <source>made from the host name</source>
        <translation>bildas av värdnamnet</translation>
    </message>
    <message>
        <source>the system&apos;s certificate authorities</source>
        <translation>systemets certifikatutfärdare</translation>
    </message>
    <message>
        <source>Publishing:</source>
        <translation>Publicering:</translation>
    </message>
    <message>
        <source>Broker host:</source>
        <translation>Brokerns värd:</translation>
    </message>
    <message>
        <source>Client id:</source>
        <translation>Klient-id:</translation>
    </message>
    <message>
        <source>User name:</source>
        <translation>Användarnamn:</translation>
    </message>
    <message>
        <source>Password:</source>
        <translation>Lösenord:</translation>
    </message>
    <message>
        <source>Encryption:</source>
        <translation>Kryptering:</translation>
    </message>
    <message>
        <source>CA file:</source>
        <translation>CA-fil:</translation>
    </message>
    <message>
        <source>Topic prefix:</source>
        <translation>Ämnesprefix:</translation>
    </message>
    <message>
        <source>Publish every:</source>
        <translation>Publicera var:</translation>
    </message>
    <message>
        <source>Delivery (QoS):</source>
        <translation>Leverans (QoS):</translation>
    </message>
    <message>
        <source>Discovery:</source>
        <translation>Upptäckt:</translation>
    </message>
    <message>
        <source>Spool limit:</source>
        <translation>Kögräns:</translation>
    </message>
    <message numerus="yes">
        <source>%n reading(s) dropped from the full spool</source>
        <translation>
            <numerusform>%n avläsning kastad ur den fulla kön</numerusform>
            <numerusform>%n avläsningar kastade ur den fulla kön</numerusform>
        </translation>
    </message>
    <message>
        <source>readings kept in memory only</source>
        <translation>avläsningar hålls bara i minnet</translation>
    </message>
</context>
<context>
    <name>MqttLink</name>
    <message>
        <source>MQTT topic &quot;%1&quot; not valid for publishing (empty, or with + or #)</source>
        <translation>MQTT-ämnet &quot;%1&quot; går inte att publicera på (tomt, eller med + eller #)</translation>
    </message>
    <message>
        <source>MQTT message to %1 refused by the library: %2</source>
        <translation>MQTT-meddelandet till %1 avvisades av biblioteket: %2</translation>
    </message>
    <message>
        <source>stopped</source>
        <translation>stoppad</translation>
    </message>
    <message>
        <source>refused: protocol version not accepted</source>
        <translation>nekad: protokollversionen godtas inte</translation>
    </message>
    <message>
        <source>refused: client id rejected</source>
        <translation>nekad: klient-id:t avvisades</translation>
    </message>
    <message>
        <source>refused: broker unavailable</source>
        <translation>nekad: brokern är inte tillgänglig</translation>
    </message>
    <message>
        <source>refused: wrong user name or password</source>
        <translation>nekad: fel användarnamn eller lösenord</translation>
    </message>
    <message>
        <source>refused (%1)</source>
        <translation>nekad (%1)</translation>
    </message>
    <message>
        <source>connected to %1:%2</source>
        <translation>ansluten till %1:%2</translation>
    </message>
    <message>
        <source>cannot make an MQTT client: %1</source>
        <translation>kan inte skapa en MQTT-klient: %1</translation>
    </message>
    <message>
        <source>TLS failure: the CA file %1 cannot be used (%2)</source>
        <translation>TLS-fel: CA-filen %1 kan inte användas (%2)</translation>
    </message>
    <message>
        <source>connecting to %1:%2</source>
        <translation>ansluter till %1:%2</translation>
    </message>
    <message>
        <source>TLS failure</source>
        <translation>TLS-fel</translation>
    </message>
    <message>
        <source>TLS failure: %1</source>
        <translation>TLS-fel: %1</translation>
    </message>
    <message>
        <source>broker not reachable: %1</source>
        <translation>brokern nås inte: %1</translation>
    </message>
    <message>
        <source>broker not reachable: host %1 unknown</source>
        <translation>brokern nås inte: värden %1 är okänd</translation>
    </message>
    <message>
        <source>connection lost</source>
        <translation>anslutningen förlorades</translation>
    </message>
    <message>
        <source>the broker did not answer the connection within %1 s</source>
        <translation>brokern svarade inte på anslutningen inom %1 s</translation>
    </message>
    <message numerus="yes">
        <source> - next try in %n s</source>
        <translation>
            <numerusform> - nytt försök om %n s</numerusform>
            <numerusform> - nytt försök om %n s</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>MqttSpool</name>
    <message>
        <source>Cannot make the folder of the MQTT spool %1: %2</source>
        <translation>Kan inte skapa mappen för MQTT-kön %1: %2</translation>
    </message>
    <message>
        <source>Cannot open the MQTT spool %1: %2</source>
        <translation>Kan inte öppna MQTT-kön %1: %2</translation>
    </message>
    <message>
        <source>Cannot write the MQTT spool %1: %2</source>
        <translation>Kan inte skriva MQTT-kön %1: %2</translation>
    </message>
    <message>
        <source>%1 is not an MQTT spool (%2); nothing is spooled</source>
        <translation>%1 är ingen MQTT-kö (%2); inget köas</translation>
    </message>
    <message>
        <source>Cannot repair the MQTT spool %1: %2</source>
        <translation>Kan inte reparera MQTT-kön %1: %2</translation>
    </message>
    <message>
        <source>The MQTT spool is not open</source>
        <translation>MQTT-kön är inte öppen</translation>
    </message>
    <message>
        <source>A message of %1 bytes is larger than the MQTT spool&apos;s limit</source>
        <translation>Ett meddelande på %1 byte är större än MQTT-köns gräns</translation>
    </message>
</context>
<context>
    <name>SecretStore</name>
    <message>
        <source>the desktop&apos;s secret store</source>
        <translation>skrivbordets lösenordsförråd</translation>
    </message>
    <message>
        <source>a file only you can read: %1</source>
        <translation>en fil som bara du kan läsa: %1</translation>
    </message>
    <message>
        <source>no application to run the desktop&apos;s secret store in</source>
        <translation>inget program att köra skrivbordets lösenordsförråd i</translation>
    </message>
    <message>
        <source>the desktop&apos;s secret store did not answer within %1 s</source>
        <translation>skrivbordets lösenordsförråd svarade inte inom %1 s</translation>
    </message>
    <message>
        <source>%1 is a symbolic link: refusing to read secrets through it</source>
        <translation>%1 är en symbolisk länk: vägrar läsa hemligheter genom den</translation>
    </message>
    <message>
        <source>%1 is not a plain file: refusing to read secrets from it</source>
        <translation>%1 är inte en vanlig fil: vägrar läsa hemligheter ur den</translation>
    </message>
    <message>
        <source>cannot read %1: %2</source>
        <translation>kan inte läsa %1: %2</translation>
    </message>
    <message>
        <source>%1 belongs to another user: refusing to read secrets from it</source>
        <translation>%1 tillhör en annan användare: vägrar läsa hemligheter ur den</translation>
    </message>
    <message>
        <source>%1 can be read by others (mode %2): refusing to read secrets from it; make it yours alone with: chmod 600 %1</source>
        <translation>%1 kan läsas av andra (läge %2): vägrar läsa hemligheter ur den; gör den till enbart din med: chmod 600 %1</translation>
    </message>
    <message>
        <source>%1 is larger than %2 bytes, far more than any passwords: refusing to read it</source>
        <translation>%1 är större än %2 byte, långt mer än några lösenord: vägrar läsa den</translation>
    </message>
    <message>
        <source>%1 is damaged (%2): move it away to start afresh</source>
        <translation>%1 är skadad (%2): flytta undan den för att börja om från början</translation>
    </message>
    <message>
        <source>not an object</source>
        <translation>inte ett objekt</translation>
    </message>
    <message>
        <source>cannot make the folder %1</source>
        <translation>kan inte skapa mappen %1</translation>
    </message>
    <message>
        <source>cannot remove %1: %2</source>
        <translation>kan inte ta bort %1: %2</translation>
    </message>
    <message>
        <source>cannot write %1: %2</source>
        <translation>kan inte skriva %1: %2</translation>
    </message>
    <message>
        <source>the desktop&apos;s secret store refused: %1</source>
        <translation>skrivbordets lösenordsförråd vägrade: %1</translation>
    </message>
    <message>
        <source>the desktop&apos;s secret store failed: %1</source>
        <translation>skrivbordets lösenordsförråd misslyckades: %1</translation>
    </message>
    <message>
        <source>the desktop&apos;s secret store could not remove it: %1</source>
        <translation>skrivbordets lösenordsförråd kunde inte ta bort den: %1</translation>
    </message>
</context>
</TS>
