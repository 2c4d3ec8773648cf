<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="en">
<context>
    <name>Dialog</name>
    <message>
        <source>About</source>
        <translation>«About»</translation>
    </message>
    <message>
        <source>version: </source>
        <translation>«version: »</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>Debug</source>
        <translation>«Debug»</translation>
    </message>
    <message>
        <source>Debug output will be redirected to 'log.txt'</source>
        <translation>«Debug output will be redirected to 'log.txt'»</translation>
    </message>
    <message>
        <source>Could not open debug file 'log.txt' for writing. Debug output will be redirected to stdout</source>
        <translation>«Could not open debug file 'log.txt' for writing. Debug output will be redirected to stdout»</translation>
    </message>
    <message>
        <source>Found plugin: </source>
        <translation>«Found plugin: »</translation>
    </message>
    <message>
        <source>Failed to load plugin: </source>
        <translation>«Failed to load plugin: »</translation>
    </message>
    <message>
        <source>Loaded plugin: </source>
        <translation>«Loaded plugin: »</translation>
    </message>
    <message>
        <source>Plugins</source>
        <translation>«Plugins»</translation>
    </message>
    <message>
        <source>No valid plugins where found in '</source>
        <translation>«No valid plugins where found in '»</translation>
    </message>
    <message>
        <source>Done</source>
        <translation>«Done»</translation>
    </message>
    <message>
        <source>Action failed</source>
        <translation>«Action failed»</translation>
    </message>
</context>
<context>
    <name>cMainWindow</name>
    <message>
        <source>Corvane - Tessmark</source>
        <translation>«Corvane - Tessmark»</translation>
    </message>
    <message>
        <source>Corvane</source>
        <translation>«Corvane»</translation>
    </message>
    <message>
        <source>Plugin</source>
        <translation>«Plugin»</translation>
    </message>
    <message>
        <source>Information</source>
        <translation>«Information»</translation>
    </message>
    <message>
        <source>&amp;Setup</source>
        <translation>«&amp;Setup»</translation>
    </message>
    <message>
        <source>Setup</source>
        <translation>«Setup»</translation>
    </message>
    <message>
        <source>CV: Application setup</source>
        <translation>«CV: Application setup»</translation>
    </message>
    <message>
        <source>Ctrl+Alt+Enter</source>
        <translation>Ctrl+Alt+Enter</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>«&amp;Quit»</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>«Quit»</translation>
    </message>
    <message>
        <source>Exit application</source>
        <translation>«Exit application»</translation>
    </message>
    <message>
        <source>Ctrl+Q</source>
        <translation>Ctrl+Q</translation>
    </message>
    <message>
        <source>&amp;About</source>
        <translation>«&amp;About»</translation>
    </message>
    <message>
        <source>About</source>
        <translation>«About»</translation>
    </message>
    <message>
        <source>About message</source>
        <translation>«About message»</translation>
    </message>
    <message>
        <source>File</source>
        <translation>«File»</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>«Help»</translation>
    </message>
    <message>
        <source>&amp;About plugin</source>
        <translation>«&amp;About plugin»</translation>
    </message>
    <message>
        <source>About plugin</source>
        <translation>«About plugin»</translation>
    </message>
    <message>
        <source>Ctrl+Return</source>
        <translation>Ctrl+Return</translation>
    </message>
    <message>
        <source>Do you really want to quit?</source>
        <translation>«Do you really want to quit?»</translation>
    </message>
    <message>
        <source>Save settings</source>
        <translation>«Save settings»</translation>
    </message>
    <message>
        <source>Do you really want save settings?
</source>
        <translation>«Do you really want save settings?»
</translation>
    </message>
    <message>
        <source>Load Plugin</source>
        <translation>«Load Plugin»</translation>
    </message>
    <message>
        <source>Failed to load plugin!
</source>
        <translation>«Failed to load plugin!»
</translation>
    </message>
    <message>
        <source>It made no plugin instance</source>
        <translation>«It made no plugin instance»</translation>
    </message>
    <message>
        <source>It threw an exception from %1</source>
        <translation>«It threw an exception from %1»</translation>
    </message>
    <message>
        <source>Plugin error</source>
        <translation>«Plugin error»</translation>
    </message>
    <message>
        <source>The plugin failed in %1</source>
        <translation>«The plugin failed in %1»</translation>
    </message>
    <message>
        <source>The plugin is unloaded</source>
        <translation>«The plugin is unloaded»</translation>
    </message>
    <message>
        <source>The plugins after it were not loaded: %1</source>
        <translation>«The plugins after it were not loaded: %1»</translation>
    </message>
    <message>
        <source>Plugin version not valid!
</source>
        <translation>«Plugin version not valid!»
</translation>
    </message>
    <message>
        <source>Please, Install the proper plugin version for this application and try again.&lt;br&gt;This plugin is now disabled</source>
        <translation>«Please, Install the proper plugin version for this application and try again.&lt;br&gt;This plugin is now disabled»</translation>
    </message>
    <message>
        <source>Load Symbol</source>
        <translation>«Load Symbol»</translation>
    </message>
    <message>
        <source>Symbol not found! The plugin can not be loaded</source>
        <translation>«Symbol not found! The plugin can not be loaded»</translation>
    </message>
</context>
<context>
    <name>cPortPicker</name>
    <message>
        <source>%1 (no permission)</source>
        <translation>«%1 (no permission)»</translation>
    </message>
</context>
<context>
    <name>cSetup</name>
    <message>
        <source>Corvane - Setup</source>
        <translation>«Corvane - Setup»</translation>
    </message>
    <message>
        <source>Setup</source>
        <translation>«Setup»</translation>
    </message>
    <message>
        <source>Corvane version: --</source>
        <translation>«Corvane version: --»</translation>
    </message>
    <message>
        <source>Language:</source>
        <translation>«Language:»</translation>
    </message>
    <message>
        <source>System</source>
        <translation>«System»</translation>
    </message>
    <message>
        <source>Enable serial debug output</source>
        <translation>«Enable serial debug output»</translation>
    </message>
    <message>
        <source>New language</source>
        <translation>«New language»</translation>
    </message>
    <message>
        <source>The new language will be effective the next time you restart the application</source>
        <translation>«The new language will be effective the next time you restart the application»</translation>
    </message>
    <message>
        <source>version: </source>
        <translation>«version: »</translation>
    </message>
</context>
</TS>
