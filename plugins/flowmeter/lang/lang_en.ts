<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>FlowMeter</name>
    <message>
        <source>Meter %1</source>
        <translation>Meter %1</translation>
    </message>
    <message>
        <source>MODBUS RTU flow meters on a serial line: flow, totalizer, temperature and alarms</source>
        <translation>MODBUS RTU flow meters on a serial line: flow, totalizer, temperature and alarms</translation>
    </message>
    <message>
        <source>Scan bus</source>
        <translation>Scan bus</translation>
    </message>
    <message>
        <source>Reset totalizer</source>
        <translation>Reset totalizer</translation>
    </message>
    <message>
        <source>Scanning the bus</source>
        <translation>Scanning the bus</translation>
    </message>
    <message>
        <source>Scan found: %1</source>
        <translation>Scan found: %1</translation>
    </message>
    <message>
        <source>no meter</source>
        <translation>no meter</translation>
    </message>
    <message>
        <source>all meters</source>
        <translation>all meters</translation>
    </message>
    <message>
        <source>Reset the totalizer of %1 to zero?</source>
        <translation>Reset the totalizer of %1 to zero?</translation>
    </message>
    <message>
        <source>Resetting the totalizer</source>
        <translation>Resetting the totalizer</translation>
    </message>
    <message>
        <source>unloaded</source>
        <translation>unloaded</translation>
    </message>
    <message>
        <source>port changed to %1</source>
        <translation>port changed to %1</translation>
    </message>
    <message>
        <source>port %1 lost (device gone)</source>
        <translation>port %1 lost (device gone)</translation>
    </message>
    <message>
        <source>port %1 cannot be opened</source>
        <translation>port %1 cannot be opened</translation>
    </message>
    <message>
        <source>port %1 cannot be opened: %2</source>
        <translation>port %1 cannot be opened: %2</translation>
    </message>
    <message>
        <source>no port</source>
        <translation>no port</translation>
    </message>
    <message>
        <source>device gone</source>
        <translation>device gone</translation>
    </message>
    <message>
        <source>transaction failed</source>
        <translation>transaction failed</translation>
    </message>
    <message>
        <source>no answer</source>
        <translation>no answer</translation>
    </message>
    <message>
        <source>short answer (%1 of %2 bytes)</source>
        <translation>short answer (%1 of %2 bytes)</translation>
    </message>
    <message>
        <source>corrupt check sum</source>
        <translation>corrupt check sum</translation>
    </message>
    <message>
        <source>answer from another unit</source>
        <translation>answer from another unit</translation>
    </message>
    <message>
        <source>MODBUS exception %1</source>
        <translation>MODBUS exception %1</translation>
    </message>
    <message>
        <source>malformed answer</source>
        <translation>malformed answer</translation>
    </message>
    <message>
        <source>not confirmed</source>
        <translation>not confirmed</translation>
    </message>
    <message>
        <source>Totalizer reset</source>
        <translation>Totalizer reset</translation>
    </message>
    <message>
        <source>Totalizer reset failed: %1</source>
        <translation>Totalizer reset failed: %1</translation>
    </message>
    <message>
        <source>Flow above limit</source>
        <translation>Flow above limit</translation>
    </message>
    <message>
        <source>Measuring</source>
        <translation>Measuring</translation>
    </message>
    <message>
        <source>Empty pipe</source>
        <translation>Empty pipe</translation>
    </message>
    <message>
        <source>Sensor fault</source>
        <translation>Sensor fault</translation>
    </message>
    <message>
        <source>Battery low</source>
        <translation>Battery low</translation>
    </message>
    <message>
        <source>Flow velocity</source>
        <translation>Flow velocity</translation>
    </message>
    <message>
        <source>Supply voltage</source>
        <translation>Supply voltage</translation>
    </message>
    <message>
        <source>Flow meter: setup not saved: %1</source>
        <translation>Flow meter: setup not saved: %1</translation>
    </message>
    <message>
        <source>No flow</source>
        <translation>No flow</translation>
    </message>
    <message>
        <source>Temperature above 60 °C</source>
        <translation>Temperature above 60 °C</translation>
    </message>
    <message>
        <source>No alarm</source>
        <translation>No alarm</translation>
    </message>
    <message>
        <source>-%1 min</source>
        <translation>-%1 min</translation>
    </message>
    <message>
        <source>now</source>
        <translation>now</translation>
    </message>
    <message>
        <source>Totalizer:</source>
        <translation>Totalizer:</translation>
    </message>
    <message>
        <source>Temperature:</source>
        <translation>Temperature:</translation>
    </message>
    <message>
        <source>Alarm:</source>
        <translation>Alarm:</translation>
    </message>
    <message>
        <source>State:</source>
        <translation>State:</translation>
    </message>
    <message>
        <source>Last good reading:</source>
        <translation>Last good reading:</translation>
    </message>
    <message>
        <source>Poll errors:</source>
        <translation>Poll errors:</translation>
    </message>
    <message>
        <source>Online</source>
        <translation>Online</translation>
    </message>
    <message>
        <source>Offline: %1</source>
        <translation>Offline: %1</translation>
    </message>
    <message>
        <source>not read yet</source>
        <translation>not read yet</translation>
    </message>
    <message>
        <source>never</source>
        <translation>never</translation>
    </message>
    <message>
        <source>No flow meter configured</source>
        <translation>No flow meter configured</translation>
    </message>
    <message>
        <source>Serial number:</source>
        <translation>Serial number:</translation>
    </message>
    <message>
        <source>Firmware:</source>
        <translation>Firmware:</translation>
    </message>
    <message>
        <source>Port:</source>
        <translation>Port:</translation>
    </message>
    <message>
        <source>MODBUS id:</source>
        <translation>MODBUS id:</translation>
    </message>
    <message>
        <source>Poll period:</source>
        <translation>Poll period:</translation>
    </message>
    <message>
        <source>Last error:</source>
        <translation>Last error:</translation>
    </message>
    <message>
        <source>%1 ms</source>
        <translation>%1 ms</translation>
    </message>
    <message>
        <source>none</source>
        <translation>none</translation>
    </message>
    <message>
        <source>Flow meter setup</source>
        <translation>Flow meter setup</translation>
    </message>
    <message>
        <source>Port (device path):</source>
        <translation>Port (device path):</translation>
    </message>
    <message>
        <source>Unit ids:</source>
        <translation>Unit ids:</translation>
    </message>
    <message>
        <source>Damping:</source>
        <translation>Damping:</translation>
    </message>
    <message>
        <source>Calibration factor:</source>
        <translation>Calibration factor:</translation>
    </message>
    <message>
        <source>Not unit ids (1 to 247), left out: %1</source>
        <translation>Not unit ids (1 to 247), left out: %1</translation>
    </message>
    <message>
        <source>for example 1,2,3 or 1-5</source>
        <translation>for example 1,2,3 or 1-5</translation>
    </message>
    <message>
        <source>Answer time-out:</source>
        <translation>Answer time-out:</translation>
    </message>
    <message>
        <source>Flow meter: port %1 cannot be opened; trying again</source>
        <translation>Flow meter: port %1 cannot be opened; trying again</translation>
    </message>
    <message>
        <source>Scan stopped: %1</source>
        <translation>Scan stopped: %1</translation>
    </message>
    <message>
        <source>the plug-in is closing</source>
        <translation>the plug-in is closing</translation>
    </message>
    <message>
        <source>port %1 lost</source>
        <translation>port %1 lost</translation>
    </message>
    <message>
        <source>%1: damping not written (%2)</source>
        <translation>%1: damping not written (%2)</translation>
    </message>
    <message>
        <source>not a number</source>
        <translation>not a number</translation>
    </message>
    <message>
        <source>infinite</source>
        <translation>infinite</translation>
    </message>
    <message>
        <source>out of range</source>
        <translation>out of range</translation>
    </message>
    <message>
        <source>flow</source>
        <translation>flow</translation>
    </message>
    <message>
        <source>totalizer</source>
        <translation>totalizer</translation>
    </message>
    <message>
        <source>temperature</source>
        <translation>temperature</translation>
    </message>
    <message>
        <source>invalid: %1</source>
        <translation>invalid: %1</translation>
    </message>
    <message>
        <source>No valid measurement: %1</source>
        <translation>No valid measurement: %1</translation>
    </message>
    <message>
        <source>Flow meter: settings could not be saved to %1</source>
        <translation>Flow meter: settings could not be saved to %1</translation>
    </message>
    <message>
        <source>cancelled</source>
        <translation>cancelled</translation>
    </message>
    <message>
        <source>Cancel scan</source>
        <translation>Cancel scan</translation>
    </message>
    <message>
        <source>no permission; on Debian: sudo adduser $USER dialout, then log in again</source>
        <translation>no permission; on Debian: sudo adduser $USER dialout, then log in again</translation>
    </message>
    <message>
        <source>not present; is the adapter plugged in?</source>
        <translation>not present; is the adapter plugged in?</translation>
    </message>
    <message>
        <source>in use by another program: %1</source>
        <translation>in use by another program: %1</translation>
    </message>
    <message>
        <source>not a serial device</source>
        <translation>not a serial device</translation>
    </message>
    <message>
        <source>open at other line settings: %1</source>
        <translation>open at other line settings: %1</translation>
    </message>
    <message>
        <source>the device refused the line settings</source>
        <translation>the device refused the line settings</translation>
    </message>
    <message>
        <source>Flow meter: port %1 cannot be opened (%2); trying again</source>
        <translation>Flow meter: port %1 cannot be opened (%2); trying again</translation>
    </message>
    <message>
        <source>%1, not open: %2</source>
        <translation>%1, not open: %2</translation>
    </message>
    <message>
        <source>Line:</source>
        <translation>Line:</translation>
    </message>
    <message>
        <source>Baud rate:</source>
        <translation>Baud rate:</translation>
    </message>
    <message>
        <source>Data bits:</source>
        <translation>Data bits:</translation>
    </message>
    <message>
        <source>Parity:</source>
        <translation>Parity:</translation>
    </message>
    <message>
        <source>Stop bits:</source>
        <translation>Stop bits:</translation>
    </message>
    <message>
        <source>None (N)</source>
        <translation>None (N)</translation>
    </message>
    <message>
        <source>Even (E)</source>
        <translation>Even (E)</translation>
    </message>
    <message>
        <source>Odd (O)</source>
        <translation>Odd (O)</translation>
    </message>
    <message>
        <source>for example /dev/ttyUSB0</source>
        <translation>for example /dev/ttyUSB0</translation>
    </message>
    <message>
        <source>the value cannot be written</source>
        <translation>the value cannot be written</translation>
    </message>
    <message>
        <source>below the lowest value, %1</source>
        <translation>below the lowest value, %1</translation>
    </message>
    <message>
        <source>above the highest value, %1</source>
        <translation>above the highest value, %1</translation>
    </message>
    <message>
        <source>the model&apos;s scale is unusable</source>
        <translation>the model&apos;s scale is unusable</translation>
    </message>
    <message>
        <source>outside what the register can hold</source>
        <translation>outside what the register can hold</translation>
    </message>
    <message>
        <source>outside what the register can hold (%1 to %2)</source>
        <translation>outside what the register can hold (%1 to %2)</translation>
    </message>
    <message>
        <source>bit %1</source>
        <translation>bit %1</translation>
    </message>
    <message>
        <source>not read</source>
        <translation>not read</translation>
    </message>
    <message>
        <source>Flow</source>
        <translation>Flow</translation>
    </message>
    <message>
        <source>Totalizer</source>
        <translation>Totalizer</translation>
    </message>
    <message>
        <source>Temperature</source>
        <translation>Temperature</translation>
    </message>
    <message>
        <source>Alarms</source>
        <translation>Alarms</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>Serial number</source>
        <translation>Serial number</translation>
    </message>
    <message>
        <source>Firmware</source>
        <translation>Firmware</translation>
    </message>
    <message>
        <source>Damping</source>
        <translation>Damping</translation>
    </message>
    <message>
        <source>Alarm limit</source>
        <translation>Alarm limit</translation>
    </message>
    <message>
        <source>Calibration factor</source>
        <translation>Calibration factor</translation>
    </message>
    <message>
        <source>%1:</source>
        <translation>%1:</translation>
    </message>
    <message>
        <source>Flow shown in:</source>
        <translation>Flow shown in:</translation>
    </message>
    <message>
        <source>Volume shown in:</source>
        <translation>Volume shown in:</translation>
    </message>
    <message>
        <source>Temperature shown in:</source>
        <translation>Temperature shown in:</translation>
    </message>
    <message>
        <source>Add line</source>
        <translation>Add line</translation>
    </message>
    <message>
        <source>Remove line</source>
        <translation>Remove line</translation>
    </message>
    <message>
        <source>Add meter</source>
        <translation>Add meter</translation>
    </message>
    <message>
        <source>Remove meter</source>
        <translation>Remove meter</translation>
    </message>
    <message>
        <source>Meters on this line:</source>
        <translation>Meters on this line:</translation>
    </message>
    <message>
        <source>Unit id</source>
        <translation>Unit id</translation>
    </message>
    <message>
        <source>Model</source>
        <translation>Model</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>Model files that could not be read:</source>
        <translation>Model files that could not be read:</translation>
    </message>
    <message>
        <source>No model of this name was loaded</source>
        <translation>No model of this name was loaded</translation>
    </message>
    <message>
        <source>Line %1: %2, %3</source>
        <translation>Line %1: %2, %3</translation>
    </message>
    <message>
        <source>Line %1 has no port.</source>
        <translation>Line %1 has no port.</translation>
    </message>
    <message>
        <source>Lines %1 and %2 use the same port %3: a port serves one line.</source>
        <translation>Lines %1 and %2 use the same port %3: a port serves one line.</translation>
    </message>
    <message>
        <source>Line %1 has no meter.</source>
        <translation>Line %1 has no meter.</translation>
    </message>
    <message>
        <source>Line %1: unit id %2 is given to more than one meter.</source>
        <translation>Line %1: unit id %2 is given to more than one meter.</translation>
    </message>
    <message>
        <source>Line %1: the port name holds the control character %2 (character %3).</source>
        <translation>Line %1: the port name holds the control character %2 (character %3).</translation>
    </message>
    <message>
        <source>Line %1: the port name holds the direction-changing character %2 (character %3).</source>
        <translation>Line %1: the port name holds the direction-changing character %2 (character %3).</translation>
    </message>
    <message>
        <source>Line %1, unit id %2: the name holds the control character %3 (character %4).</source>
        <translation>Line %1, unit id %2: the name holds the control character %3 (character %4).</translation>
    </message>
    <message>
        <source>Line %1, unit id %2: the name holds the direction-changing character %3 (character %4).</source>
        <translation>Line %1, unit id %2: the name holds the direction-changing character %3 (character %4).</translation>
    </message>
    <message>
        <source>Line %1, unit id %2: unknown model &quot;%3&quot;.</source>
        <translation>Line %1, unit id %2: unknown model &quot;%3&quot;.</translation>
    </message>
    <message>
        <source>Alarm limit:</source>
        <translation>Alarm limit:</translation>
    </message>
    <message>
        <source>Write limit</source>
        <translation>Write limit</translation>
    </message>
    <message>
        <source>This meter&apos;s model has no alarm limit.</source>
        <translation>This meter&apos;s model has no alarm limit.</translation>
    </message>
    <message>
        <source>The model does not let this limit be written.</source>
        <translation>The model does not let this limit be written.</translation>
    </message>
    <message>
        <source>From %1 to %2</source>
        <translation>From %1 to %2</translation>
    </message>
    <message>
        <source>At least %1</source>
        <translation>At least %1</translation>
    </message>
    <message>
        <source>At most %1</source>
        <translation>At most %1</translation>
    </message>
    <message>
        <source>Not written: &quot;%1&quot; is not a number.</source>
        <translation>Not written: &quot;%1&quot; is not a number.</translation>
    </message>
    <message>
        <source>Not written: %1 is below the lowest limit the meter takes, %2.</source>
        <translation>Not written: %1 is below the lowest limit the meter takes, %2.</translation>
    </message>
    <message>
        <source>Not written: %1 is above the highest limit the meter takes, %2.</source>
        <translation>Not written: %1 is above the highest limit the meter takes, %2.</translation>
    </message>
    <message>
        <source>Not written: %1</source>
        <translation>Not written: %1</translation>
    </message>
    <message>
        <source>Sending %1 to the meter.</source>
        <translation>Sending %1 to the meter.</translation>
    </message>
    <message>
        <source>Line %1: unit id %2 is not one of 1 to 247.</source>
        <translation>Line %1: unit id %2 is not one of 1 to 247.</translation>
    </message>
    <message>
        <source>model %1 not found</source>
        <translation>model %1 not found</translation>
    </message>
    <message>
        <source>its model has no reset command</source>
        <translation>its model has no reset command</translation>
    </message>
    <message>
        <source>its model has no such value</source>
        <translation>its model has no such value</translation>
    </message>
    <message>
        <source>No meter model could be loaded: no meter can be read.</source>
        <translation>No meter model could be loaded: no meter can be read.</translation>
    </message>
    <message>
        <source>Meter models: %1</source>
        <translation>Meter models: %1</translation>
    </message>
    <message>
        <source>the meter&apos;s model has no alarm limit</source>
        <translation>the meter&apos;s model has no alarm limit</translation>
    </message>
    <message>
        <source>not a value the meter can take</source>
        <translation>not a value the meter can take</translation>
    </message>
    <message>
        <source>Alarm limit not written: %1</source>
        <translation>Alarm limit not written: %1</translation>
    </message>
    <message>
        <source>%1: alarm limit written</source>
        <translation>%1: alarm limit written</translation>
    </message>
    <message>
        <source>%1: alarm limit not written (%2)</source>
        <translation>%1: alarm limit not written (%2)</translation>
    </message>
    <message>
        <source>Model:</source>
        <translation>Model:</translation>
    </message>
    <message>
        <source>%1 (not found)</source>
        <translation>%1 (not found)</translation>
    </message>
    <message>
        <source>No day to record line %1 for.</source>
        <translation>No day to record line %1 for.</translation>
    </message>
    <message>
        <source>Line %1 has no free record file name for %2 in %3.</source>
        <translation>Line %1 has no free record file name for %2 in %3.</translation>
    </message>
    <message>
        <source>The folder %1 for the recordings cannot be made: %2</source>
        <translation>The folder %1 for the recordings cannot be made: %2</translation>
    </message>
    <message>
        <source>No space left to record to %1: %2</source>
        <translation>No space left to record to %1: %2</translation>
    </message>
    <message>
        <source>The recording %1 cannot be written: %2</source>
        <translation>The recording %1 cannot be written: %2</translation>
    </message>
    <message>
        <source>Writing the recording %1 failed: %2</source>
        <translation>Writing the recording %1 failed: %2</translation>
    </message>
    <message>
        <source>Recording stopped: %1</source>
        <translation>Recording stopped: %1</translation>
    </message>
    <message>
        <source>Recording resumed</source>
        <translation>Recording resumed</translation>
    </message>
    <message>
        <source>Recording every %1 s to %2</source>
        <translation>Recording every %1 s to %2</translation>
    </message>
    <message>
        <source>Recording stopped</source>
        <translation>Recording stopped</translation>
    </message>
    <message>
        <source>Start recording</source>
        <translation>Start recording</translation>
    </message>
    <message>
        <source>Stop recording</source>
        <translation>Stop recording</translation>
    </message>
    <message>
        <source>Recording</source>
        <translation>Recording</translation>
    </message>
    <message>
        <source>Recording folder</source>
        <translation>Recording folder</translation>
    </message>
    <message>
        <source>The recording folder must be an absolute path, starting with /.</source>
        <translation>The recording folder must be an absolute path, starting with /.</translation>
    </message>
    <message>
        <source>The recording folder cannot be the root folder /.</source>
        <translation>The recording folder cannot be the root folder /.</translation>
    </message>
    <message>
        <source>Empty: %1</source>
        <translation>Empty: %1</translation>
    </message>
    <message>
        <source>Choose...</source>
        <translation>Choose...</translation>
    </message>
    <message>
        <source>Folder:</source>
        <translation>Folder:</translation>
    </message>
    <message>
        <source>Interval:</source>
        <translation>Interval:</translation>
    </message>
    <message>
        <source>the disk does not keep up with the recording in %1</source>
        <translation>the disk does not keep up with the recording in %1</translation>
    </message>
    <message>
        <source>the records folder %1 cannot be made</source>
        <translation>the records folder %1 cannot be made</translation>
    </message>
    <message>
        <source>the records folder %1 is in use by another Corvane (process %2 on %3)</source>
        <translation>the records folder %1 is in use by another Corvane (process %2 on %3)</translation>
    </message>
    <message>
        <source>the records folder %1 is in use by another Corvane</source>
        <translation>the records folder %1 is in use by another Corvane</translation>
    </message>
    <message>
        <source>no lock can be made in the records folder %1: no permission</source>
        <translation>no lock can be made in the records folder %1: no permission</translation>
    </message>
    <message>
        <source>no lock can be made in the records folder %1</source>
        <translation>no lock can be made in the records folder %1</translation>
    </message>
    <message>
        <source>Span:</source>
        <translation>Span:</translation>
    </message>
    <message>
        <source>5 minutes</source>
        <translation>5 minutes</translation>
    </message>
    <message>
        <source>1 hour</source>
        <translation>1 hour</translation>
    </message>
    <message>
        <source>8 hours</source>
        <translation>8 hours</translation>
    </message>
    <message>
        <source>24 hours</source>
        <translation>24 hours</translation>
    </message>
    <message>
        <source>7 days</source>
        <translation>7 days</translation>
    </message>
    <message>
        <source>Flow (%1)</source>
        <translation>Flow (%1)</translation>
    </message>
    <message>
        <source>Export picture...</source>
        <translation>Export picture...</translation>
    </message>
    <message>
        <source>Export data...</source>
        <translation>Export data...</translation>
    </message>
    <message>
        <source>Export picture</source>
        <translation>Export picture</translation>
    </message>
    <message>
        <source>Export data</source>
        <translation>Export data</translation>
    </message>
    <message>
        <source>PNG pictures (*.png)</source>
        <translation>PNG pictures (*.png)</translation>
    </message>
    <message>
        <source>CSV files (*.csv)</source>
        <translation>CSV files (*.csv)</translation>
    </message>
    <message>
        <source>Export</source>
        <translation>Export</translation>
    </message>
    <message>
        <source>%1 was not written: %2</source>
        <translation>%1 was not written: %2</translation>
    </message>
    <message>
        <source>Time</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>Line</source>
        <translation>Line</translation>
    </message>
    <message>
        <source>Meter</source>
        <translation>Meter</translation>
    </message>
    <message>
        <source>Text</source>
        <translation>Text</translation>
    </message>
    <message>
        <source>End</source>
        <translation>End</translation>
    </message>
    <message>
        <source>Acknowledged</source>
        <translation>Acknowledged</translation>
    </message>
    <message>
        <source>ongoing</source>
        <translation>ongoing</translation>
    </message>
    <message>
        <source>Acknowledge</source>
        <translation>Acknowledge</translation>
    </message>
    <message>
        <source>Acknowledge all</source>
        <translation>Acknowledge all</translation>
    </message>
    <message>
        <source>Alarms (%1)</source>
        <translation>Alarms (%1)</translation>
    </message>
    <message>
        <source>Flow meter</source>
        <translation>Flow meter</translation>
    </message>
    <message>
        <source>Alarm: %1</source>
        <translation>Alarm: %1</translation>
    </message>
    <message>
        <source>Line %1 (%2), unit %3: %4</source>
        <translation>Line %1 (%2), unit %3: %4</translation>
    </message>
    <message numerus="yes">
        <source>%n reading(s) dropped from the full spool</source>
        <translation>
            <numerusform>%n reading dropped from the full spool</numerusform>
            <numerusform>%n readings dropped from the full spool</numerusform>
        </translation>
    </message>
    <message>
        <source>readings kept in memory only</source>
        <translation>readings kept in memory only</translation>
    </message>
    <message>
        <source>%1 (away %2 times)</source>
        <translation>%1 (away %2 times)</translation>
    </message>
    <message>
        <source>%1 (%2 times)</source>
        <translation>%1 (%2 times)</translation>
    </message>
    <message>
        <source>%1 times since %2, the last time at %3</source>
        <translation>%1 times since %2, the last time at %3</translation>
    </message>
    <message>
        <source>Alarm: %1 and %2 more</source>
        <translation>Alarm: %1 and %2 more</translation>
    </message>
    <message>
        <source>%1 offline</source>
        <translation>%1 offline</translation>
    </message>
    <message>
        <source>%1 meters offline</source>
        <translation>%1 meters offline</translation>
    </message>
    <message>
        <source>%1: no valid reading</source>
        <translation>%1: no valid reading</translation>
    </message>
    <message>
        <source>%1 meters without a valid reading</source>
        <translation>%1 meters without a valid reading</translation>
    </message>
    <message>
        <source>MQTT: the password could not be stored: %1</source>
        <translation>MQTT: the password could not be stored: %1</translation>
    </message>
    <message>
        <source>CA certificate</source>
        <translation>CA certificate</translation>
    </message>
    <message>
        <source>Certificates (*.pem *.crt);;All files (*)</source>
        <translation>Certificates (*.pem *.crt);;All files (*)</translation>
    </message>
    <message>
        <source>MQTT: the broker&apos;s host is missing</source>
        <translation>MQTT: the broker&apos;s host is missing</translation>
    </message>
    <message>
        <source>MQTT: the CA file %1 cannot be read</source>
        <translation>MQTT: the CA file %1 cannot be read</translation>
    </message>
    <message>
        <source>MQTT: the topic prefix may not hold + or #</source>
        <translation>MQTT: the topic prefix may not hold + or #</translation>
    </message>
    <message>
        <source>Publishing to an MQTT broker</source>
        <translation>Publishing to an MQTT broker</translation>
    </message>
    <message>
        <source>Publish the meters</source>
        <translation>Publish the meters</translation>
    </message>
    <message>
        <source>Encrypted (TLS)</source>
        <translation>Encrypted (TLS)</translation>
    </message>
    <message>
        <source>Announce the meters to Home Assistant</source>
        <translation>Announce the meters to Home Assistant</translation>
    </message>
    <message>
        <source>made from the host name</source>
        <translation>made from the host name</translation>
    </message>
    <message>
        <source>the system&apos;s certificate authorities</source>
        <translation>the system&apos;s certificate authorities</translation>
    </message>
    <message>
        <source>Publishing:</source>
        <translation>Publishing:</translation>
    </message>
    <message>
        <source>Broker host:</source>
        <translation>Broker host:</translation>
    </message>
    <message>
        <source>Client id:</source>
        <translation>Client id:</translation>
    </message>
    <message>
        <source>User name:</source>
        <translation>User name:</translation>
    </message>
    <message>
        <source>Password:</source>
        <translation>Password:</translation>
    </message>
    <message>
        <source>Encryption:</source>
        <translation>Encryption:</translation>
    </message>
    <message>
        <source>CA file:</source>
        <translation>CA file:</translation>
    </message>
    <message>
        <source>Topic prefix:</source>
        <translation>Topic prefix:</translation>
    </message>
    <message>
        <source>Publish every:</source>
        <translation>Publish every:</translation>
    </message>
    <message>
        <source>Delivery (QoS):</source>
        <translation>Delivery (QoS):</translation>
    </message>
    <message>
        <source>Discovery:</source>
        <translation>Discovery:</translation>
    </message>
    <message>
        <source>Spool limit:</source>
        <translation>Spool limit:</translation>
    </message>
    <message>
        <source>connecting</source>
        <translation>connecting</translation>
    </message>
    <message>
        <source>MQTT: %1</source>
        <translation>MQTT: %1</translation>
    </message>
</context>
<context>
    <name>MqttLink</name>
    <message>
        <source>MQTT topic &quot;%1&quot; not valid for publishing (empty, or with + or #)</source>
        <translation>MQTT topic &quot;%1&quot; not valid for publishing (empty, or with + or #)</translation>
    </message>
    <message>
        <source>MQTT message to %1 refused by the library: %2</source>
        <translation>MQTT message to %1 refused by the library: %2</translation>
    </message>
    <message>
        <source>stopped</source>
        <translation>stopped</translation>
    </message>
    <message>
        <source>refused: protocol version not accepted</source>
        <translation>refused: protocol version not accepted</translation>
    </message>
    <message>
        <source>refused: client id rejected</source>
        <translation>refused: client id rejected</translation>
    </message>
    <message>
        <source>refused: broker unavailable</source>
        <translation>refused: broker unavailable</translation>
    </message>
    <message>
        <source>refused: wrong user name or password</source>
        <translation>refused: wrong user name or password</translation>
    </message>
    <message>
        <source>refused (%1)</source>
        <translation>refused (%1)</translation>
    </message>
    <message>
        <source>connected to %1:%2</source>
        <translation>connected to %1:%2</translation>
    </message>
    <message>
        <source>cannot make an MQTT client: %1</source>
        <translation>cannot make an MQTT client: %1</translation>
    </message>
    <message>
        <source>TLS failure: the CA file %1 cannot be used (%2)</source>
        <translation>TLS failure: the CA file %1 cannot be used (%2)</translation>
    </message>
    <message>
        <source>connecting to %1:%2</source>
        <translation>connecting to %1:%2</translation>
    </message>
    <message>
        <source>TLS failure</source>
        <translation>TLS failure</translation>
    </message>
    <message>
        <source>TLS failure: %1</source>
        <translation>TLS failure: %1</translation>
    </message>
    <message>
        <source>broker not reachable: %1</source>
        <translation>broker not reachable: %1</translation>
    </message>
    <message>
        <source>broker not reachable: host %1 unknown</source>
        <translation>broker not reachable: host %1 unknown</translation>
    </message>
    <message>
        <source>connection lost</source>
        <translation>connection lost</translation>
    </message>
    <message>
        <source>the broker did not answer the connection within %1 s</source>
        <translation>the broker did not answer the connection within %1 s</translation>
    </message>
    <message numerus="yes">
        <source> - next try in %n s</source>
        <translation>
            <numerusform> - next try in %n s</numerusform>
            <numerusform> - next try in %n s</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>MqttSpool</name>
    <message>
        <source>Cannot make the folder of the MQTT spool %1: %2</source>
        <translation>Cannot make the folder of the MQTT spool %1: %2</translation>
    </message>
    <message>
        <source>Cannot open the MQTT spool %1: %2</source>
        <translation>Cannot open the MQTT spool %1: %2</translation>
    </message>
    <message>
        <source>Cannot write the MQTT spool %1: %2</source>
        <translation>Cannot write the MQTT spool %1: %2</translation>
    </message>
    <message>
        <source>%1 is not an MQTT spool (%2); nothing is spooled</source>
        <translation>%1 is not an MQTT spool (%2); nothing is spooled</translation>
    </message>
    <message>
        <source>Cannot repair the MQTT spool %1: %2</source>
        <translation>Cannot repair the MQTT spool %1: %2</translation>
    </message>
    <message>
        <source>The MQTT spool is not open</source>
        <translation>The MQTT spool is not open</translation>
    </message>
    <message>
        <source>A message of %1 bytes is larger than the MQTT spool&apos;s limit</source>
        <translation>A message of %1 bytes is larger than the MQTT spool&apos;s limit</translation>
    </message>
</context>
<context>
    <name>SecretStore</name>
    <message>
        <source>the desktop&apos;s secret store</source>
        <translation>the desktop&apos;s secret store</translation>
    </message>
    <message>
        <source>a file only you can read: %1</source>
        <translation>a file only you can read: %1</translation>
    </message>
    <message>
        <source>no application to run the desktop&apos;s secret store in</source>
        <translation>no application to run the desktop&apos;s secret store in</translation>
    </message>
    <message>
        <source>the desktop&apos;s secret store did not answer within %1 s</source>
        <translation>the desktop&apos;s secret store did not answer within %1 s</translation>
    </message>
    <message>
        <source>%1 is a symbolic link: refusing to read secrets through it</source>
        <translation>%1 is a symbolic link: refusing to read secrets through it</translation>
    </message>
    <message>
        <source>%1 is not a plain file: refusing to read secrets from it</source>
        <translation>%1 is not a plain file: refusing to read secrets from it</translation>
    </message>
    <message>
        <source>cannot read %1: %2</source>
        <translation>cannot read %1: %2</translation>
    </message>
    <message>
        <source>%1 belongs to another user: refusing to read secrets from it</source>
        <translation>%1 belongs to another user: refusing to read secrets from it</translation>
    </message>
    <message>
        <source>%1 can be read by others (mode %2): refusing to read secrets from it; make it yours alone with: chmod 600 %1</source>
        <translation>%1 can be read by others (mode %2): refusing to read secrets from it; make it yours alone with: chmod 600 %1</translation>
    </message>
    <message>
        <source>%1 is larger than %2 bytes, far more than any passwords: refusing to read it</source>
        <translation>%1 is larger than %2 bytes, far more than any passwords: refusing to read it</translation>
    </message>
    <message>
        <source>%1 is damaged (%2): move it away to start afresh</source>
        <translation>%1 is damaged (%2): move it away to start afresh</translation>
    </message>
    <message>
        <source>not an object</source>
        <translation>not an object</translation>
    </message>
    <message>
        <source>cannot make the folder %1</source>
        <translation>cannot make the folder %1</translation>
    </message>
    <message>
        <source>cannot remove %1: %2</source>
        <translation>cannot remove %1: %2</translation>
    </message>
    <message>
        <source>cannot write %1: %2</source>
        <translation>cannot write %1: %2</translation>
    </message>
    <message>
        <source>the desktop&apos;s secret store refused: %1</source>
        <translation>the desktop&apos;s secret store refused: %1</translation>
    </message>
    <message>
        <source>the desktop&apos;s secret store failed: %1</source>
        <translation>the desktop&apos;s secret store failed: %1</translation>
    </message>
    <message>
        <source>the desktop&apos;s secret store could not remove it: %1</source>
        <translation>the desktop&apos;s secret store could not remove it: %1</translation>
    </message>
</context>
</TS>
