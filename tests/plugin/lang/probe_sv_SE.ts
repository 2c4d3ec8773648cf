<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="sv_SE">
<context>
    <name>Probe</name>
    <message>
        <source>Flow rate</source>
        <translation>Flödeshastighet</translation>
    </message>
</context>
</TS>
