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
    <name>DirCreateTaskSpecification</name>
    <message>
        <source>Could not create dir &apos;%1&apos; because it already exists and is not a dir</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Could not create dir %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>unable to create dir %1</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>DownloadFileListTaskSpecification</name>
    <message>
        <source>No downloads needed</source>
        <translation>Keine Downloads nötig</translation>
    </message>
    <message>
        <source>Could not create dir %1</source>
        <translation>Verzeichnis %1 konnte nicht angelegt werden</translation>
    </message>
    <message>
        <source>Downloading files</source>
        <translation>Dateien werden heruntergeladen</translation>
    </message>
</context>
<context>
    <name>DownloadTaskSpecification</name>
    <message>
        <source>Downloading %1</source>
        <translation>Lade %1 herunter</translation>
    </message>
    <message>
        <source>Unable to create file %1 for saving</source>
        <translation>Datei %1 konnte nicht zum Speichern angelegt werden</translation>
    </message>
    <message>
        <source>Download failed to initialize</source>
        <translation>Download konnte nicht gestartet werden</translation>
    </message>
    <message>
        <source>%1 returned %2</source>
        <translation>%1 lieferte %2</translation>
    </message>
    <message>
        <source>Error writing to file %1. Should write %2 bytes but wrote %3 bytes</source>
        <translation>Fehler beim Schreiben in Datei %1. %2 Bytes sollten geschrieben werden, geschrieben wurden %3 Bytes</translation>
    </message>
    <message>
        <source>Downloading %1 finished</source>
        <translation>Download von %1 abgeschlossen</translation>
    </message>
    <message>
        <source>Unable to download %1</source>
        <translation>%1 konnte nicht heruntergeladen werden</translation>
    </message>
    <message>
        <source>file %1 timed out</source>
        <translation>Zeitüberschreitung bei Datei %1</translation>
    </message>
    <message>
        <source>Abort downloading %1</source>
        <translation>Download von %1 abgebrochen</translation>
    </message>
</context>
<context>
    <name>FileCopyTaskSpecification</name>
    <message>
        <source>Could not copy &apos;%1&apos; to &apos;%2&apos;</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>FileDeleteTaskSpecification</name>
    <message>
        <source>Deleted file &apos;%1&apos;</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Recursively deleted directory &apos;%1&apos;</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Deleted directory &apos;%1&apos;</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Could not delete &apos;%1&apos;</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>FileRenameTaskSpecification</name>
    <message>
        <source>Could not rename &apos;%1&apos; to &apos;%2&apos;</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>FileTaskSpecification_patch</name>
    <message>
        <source>Could not patch &apos;%1&apos; to &apos;%2&apos;</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>FileUnpackTaskSpecification_lzma2</name>
    <message>
        <source>Could not unpack &apos;%1&apos; to &apos;%2&apos;</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>FileUnpackTaskSpecification_zip</name>
    <message>
        <source>Could not unzip &apos;%1&apos; to &apos;%2&apos;</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>IniDownloadTaskSpecification</name>
    <message>
        <source>Download / check product ini</source>
        <translation>Produkt-INI herunterladen / prüfen</translation>
    </message>
    <message>
        <source>Could not verify the product ini file. Aborting</source>
        <translation>Die Produkt-INI-Datei konnte nicht verifiziert werden. Abbruch</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Orvane 3 Client Update</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&lt;small&gt;© Orvane Software. &lt;a href=&quot;http://www.orvane.example/&quot;&gt;Orvane&lt;/a&gt; keeps your client up to date.&lt;/small&gt;</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Details</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>MakeDownloadReplaceListFunc</name>
    <message>
        <source>Compiling download and replace list for %1</source>
        <translation>Download- und Ersetzungsliste für %1 wird erstellt</translation>
    </message>
    <message>
        <source>No files in product ini</source>
        <translation>Keine Dateien in der Produkt-INI</translation>
    </message>
    <message>
        <source>Warning: product ini contains invalid line in section %1</source>
        <translation>Warnung: Produkt-INI enthält eine ungültige Zeile in Abschnitt %1</translation>
    </message>
    <message>
        <source>Product ini line &apos;%1&apos; in section %2 names the path &apos;%3&apos;, which is absolute or leaves its directory. Aborting</source>
        <translation>Zeile &apos;%1&apos; in Abschnitt %2 der Produkt-INI nennt den Pfad &apos;%3&apos;, der absolut ist oder sein Verzeichnis verlässt. Abbruch</translation>
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
<context>
    <name>RollbackData</name>
    <message>
        <source>warning: rollback create file %1 failed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>warning: rollback create dir %1 failed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>warning: rollback rename %1 to %2 failed</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
