<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="sv_SE" sourcelanguage="en">
<context>
    <name>Dialog</name>
    <message>
        <source>About</source>
        <translation>Om</translation>
    </message>
    <message>
        <source>version: </source>
        <translation>version: </translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>Debug</source>
        <translation>Felsökning</translation>
    </message>
    <message>
        <source>Debug output will be redirected to 'log.txt'</source>
        <translation>Felsökningsutskrifterna skrivs till 'log.txt'</translation>
    </message>
    <message>
        <source>Could not open debug file 'log.txt' for writing. Debug output will be redirected to stdout</source>
        <translation>Felsökningsfilen 'log.txt' kunde inte öppnas för skrivning. Felsökningsutskrifterna skrivs till standard ut (stdout)</translation>
    </message>
    <message>
        <source>Found plugin: </source>
        <translation>Hittade insticksmodul: </translation>
    </message>
    <message>
        <source>Failed to load plugin: </source>
        <translation>Kunde inte läsa in insticksmodul: </translation>
    </message>
    <message>
        <source>Loaded plugin: </source>
        <translation>Inläst insticksmodul: </translation>
    </message>
    <message>
        <source>Plugins</source>
        <translation>Insticksmoduler</translation>
    </message>
    <message>
        <source>No valid plugins where found in '</source>
        <translation>Inga giltiga insticksmoduler hittades i '</translation>
    </message>
    <message>
        <source>Done</source>
        <translation>Klart</translation>
    </message>
    <message>
        <source>Action failed</source>
        <translation>Åtgärden misslyckades</translation>
    </message>
</context>
<context>
    <name>cMainWindow</name>
    <message>
        <source>Corvane - Tessmark</source>
        <translation>Corvane - Tessmark</translation>
    </message>
    <message>
        <source>Corvane</source>
        <translation>Corvane</translation>
    </message>
    <message>
        <source>Plugin</source>
        <translation>Insticksmodul</translation>
    </message>
    <message>
        <source>Information</source>
        <translation>Information</translation>
    </message>
    <message>
        <source>&amp;Setup</source>
        <translation>&amp;Inställningar</translation>
    </message>
    <message>
        <source>Setup</source>
        <translation>Inställningar</translation>
    </message>
    <message>
        <source>CV: Application setup</source>
        <translation>CV: Programinställningar</translation>
    </message>
    <message>
        <source>Ctrl+Alt+Enter</source>
        <translation>Ctrl+Alt+Enter</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>&amp;Avsluta</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Avsluta</translation>
    </message>
    <message>
        <source>Exit application</source>
        <translation>Avsluta programmet</translation>
    </message>
    <message>
        <source>Ctrl+Q</source>
        <translation>Ctrl+Q</translation>
    </message>
    <message>
        <source>&amp;About</source>
        <translation>&amp;Om</translation>
    </message>
    <message>
        <source>About</source>
        <translation>Om</translation>
    </message>
    <message>
        <source>About message</source>
        <translation>Om programmet</translation>
    </message>
    <message>
        <source>File</source>
        <translation>Arkiv</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Hjälp</translation>
    </message>
    <message>
        <source>&amp;About plugin</source>
        <translation>Om &amp;insticksmodulen</translation>
    </message>
    <message>
        <source>About plugin</source>
        <translation>Om insticksmodulen</translation>
    </message>
    <message>
        <source>Ctrl+Return</source>
        <translation>Ctrl+Return</translation>
    </message>
    <message>
        <source>Do you really want to quit?</source>
        <translation>Vill du verkligen avsluta?</translation>
    </message>
    <message>
        <source>Save settings</source>
        <translation>Spara inställningar</translation>
    </message>
    <message>
        <source>Do you really want save settings?
</source>
        <translation>Vill du verkligen spara inställningarna?
</translation>
    </message>
    <message>
        <source>Load Plugin</source>
        <translation>Läs in insticksmodul</translation>
    </message>
    <message>
        <source>Failed to load plugin!
</source>
        <translation>Insticksmodulen kunde inte läsas in!
</translation>
    </message>
    <message>
        <source>It made no plugin instance</source>
        <translation>Den skapade ingen insticksmodul</translation>
    </message>
    <message>
        <source>It threw an exception from %1</source>
        <translation>Den kastade ett undantag från %1</translation>
    </message>
    <message>
        <source>Plugin error</source>
        <translation>Fel i insticksmodul</translation>
    </message>
    <message>
        <source>The plugin failed in %1</source>
        <translation>Insticksmodulen misslyckades i %1</translation>
    </message>
    <message>
        <source>The plugin is unloaded</source>
        <translation>Insticksmodulen är borttagen</translation>
    </message>
    <message>
        <source>The plugins after it were not loaded: %1</source>
        <translation>Insticksmodulerna efter den lästes inte in: %1</translation>
    </message>
    <message>
        <source>Plugin version not valid!
</source>
        <translation>Insticksmodulens version är ogiltig!
</translation>
    </message>
    <message>
        <source>Please, Install the proper plugin version for this application and try again.&lt;br&gt;This plugin is now disabled</source>
        <translation>Installera rätt version av insticksmodulen för det här programmet och försök igen.&lt;br&gt;Insticksmodulen är nu inaktiverad</translation>
    </message>
    <message>
        <source>Load Symbol</source>
        <translation>Läs in symbol</translation>
    </message>
    <message>
        <source>Symbol not found! The plugin can not be loaded</source>
        <translation>Symbolen hittades inte! Insticksmodulen kan inte läsas in</translation>
    </message>
</context>
<context>
    <name>cPortPicker</name>
    <message>
        <source>%1 (no permission)</source>
        <translation>%1 (ingen behörighet)</translation>
    </message>
</context>
<context>
    <name>cSetup</name>
    <message>
        <source>Corvane - Setup</source>
        <translation>Corvane - Inställningar</translation>
    </message>
    <message>
        <source>Setup</source>
        <translation>Inställningar</translation>
    </message>
    <message>
        <source>Corvane version: --</source>
        <translation>Corvane version: --</translation>
    </message>
    <message>
        <source>Language:</source>
        <translation>Språk:</translation>
    </message>
    <message>
        <source>System</source>
        <translation>Systemets språk</translation>
    </message>
    <message>
        <source>Enable serial debug output</source>
        <translation>Aktivera felsökningsutskrifter för serieporten</translation>
    </message>
    <message>
        <source>New language</source>
        <translation>Nytt språk</translation>
    </message>
    <message>
        <source>The new language will be effective the next time you restart the application</source>
        <translation>Det nya språket börjar gälla nästa gång du startar om programmet</translation>
    </message>
    <message>
        <source>version: </source>
        <translation>version: </translation>
    </message>
</context>
<context>
    <name>QPlatformTheme</name>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>&amp;Yes</source>
        <translation>&amp;Ja</translation>
    </message>
    <message>
        <source>&amp;No</source>
        <translation>&amp;Nej</translation>
    </message>
    <message>
        <source>Yes to &amp;All</source>
        <translation>Ja till &amp;alla</translation>
    </message>
    <message>
        <source>N&amp;o to All</source>
        <translation>N&amp;ej till alla</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Avbryt</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Spara</translation>
    </message>
    <message>
        <source>Save All</source>
        <translation>Spara alla</translation>
    </message>
    <message>
        <source>Discard</source>
        <translation>Förkasta</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Stäng</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>Öppna</translation>
    </message>
    <message>
        <source>Apply</source>
        <translation>Verkställ</translation>
    </message>
    <message>
        <source>Reset</source>
        <translation>Återställ</translation>
    </message>
    <message>
        <source>Restore Defaults</source>
        <translation>Återställ standardvärden</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Hjälp</translation>
    </message>
    <message>
        <source>Abort</source>
        <translation>Avbryt</translation>
    </message>
    <message>
        <source>Retry</source>
        <translation>Försök igen</translation>
    </message>
    <message>
        <source>Ignore</source>
        <translation>Ignorera</translation>
    </message>
</context>
<context>
    <name>QGnomeTheme</name>
    <message>
        <source>&amp;OK</source>
        <translation>&amp;OK</translation>
    </message>
    <message>
        <source>&amp;Save</source>
        <translation>&amp;Spara</translation>
    </message>
    <message>
        <source>&amp;Cancel</source>
        <translation>&amp;Avbryt</translation>
    </message>
    <message>
        <source>&amp;Close</source>
        <translation>&amp;Stäng</translation>
    </message>
    <message>
        <source>Close without Saving</source>
        <translation>Stäng utan att spara</translation>
    </message>
</context>
</TS>
