<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>CheckSigFunc</name>
    <message>
        <source>Could not open file %1 for reading</source>
        <translation>Datei %1 konnte nicht zum Lesen geöffnet werden</translation>
    </message>
    <message>
        <source>could not read file %1 correctly</source>
        <translation>Datei %1 konnte nicht korrekt gelesen werden</translation>
    </message>
</context>
<context>
    <name>CheckSignatureTaskSpecification</name>
    <message>
        <source>Signature check failed for %1</source>
        <translation>Signaturprüfung für %1 fehlgeschlagen</translation>
    </message>
</context>
</TS>
