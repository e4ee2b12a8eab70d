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
    <context>
        <name>QObject</name>
        <message>
            <source>Invalid version nr (%1)</source>
            <translation>Ungültige Versionsnummer (%1)</translation>
        </message>
        <message>
            <source>Error</source>
            <translation>Fehler</translation>
        </message>
        <message>
            <source>Failed to query latest client
version from update server.</source>
            <translation>Die neueste Client-Version konnte
nicht vom Update-Server abgefragt werden.</translation>
        </message>
        <message>
            <source>Update server returned no version</source>
            <translation>Der Update-Server hat keine Version geliefert</translation>
        </message>
        <message>
            <source>Update server returned invalid version nr (%1)</source>
            <translation>Der Update-Server hat eine ungültige Versionsnummer geliefert (%1)</translation>
        </message>
    </context>
</TS>
