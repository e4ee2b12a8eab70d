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
        <translation>Verzeichnis &apos;%1&apos; konnte nicht angelegt werden, da es bereits existiert und kein Verzeichnis ist</translation>
    </message>
    <message>
        <source>Could not create dir %1</source>
        <translation>Verzeichnis %1 konnte nicht angelegt werden</translation>
    </message>
    <message>
        <source>unable to create dir %1</source>
        <translation>Verzeichnis %1 kann nicht angelegt werden</translation>
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
        <translation>&apos;%1&apos; konnte nicht nach &apos;%2&apos; kopiert werden</translation>
    </message>
</context>
<context>
    <name>FileDeleteListTaskSpecification</name>
    <message>
        <source>Starting deleting files</source>
        <translation>Lösche Dateien</translation>
    </message>
</context>
<context>
    <name>FileDeleteTaskSpecification</name>
    <message>
        <source>Deleted file &apos;%1&apos;</source>
        <translation>Datei &apos;%1&apos; gelöscht</translation>
    </message>
    <message>
        <source>Recursively deleted directory &apos;%1&apos;</source>
        <translation>Verzeichnis &apos;%1&apos; samt Inhalt gelöscht</translation>
    </message>
    <message>
        <source>Deleted directory &apos;%1&apos;</source>
        <translation>Verzeichnis &apos;%1&apos; gelöscht</translation>
    </message>
    <message>
        <source>Could not delete &apos;%1&apos;</source>
        <translation>&apos;%1&apos; konnte nicht gelöscht werden</translation>
    </message>
</context>
<context>
    <name>FileRenameTaskSpecification</name>
    <message>
        <source>Could not rename &apos;%1&apos; to &apos;%2&apos;</source>
        <translation>&apos;%1&apos; konnte nicht in &apos;%2&apos; umbenannt werden</translation>
    </message>
</context>
<context>
    <name>FileReplaceListTaskSpecification</name>
    <message>
        <source>Starting file updates</source>
        <translation>Starte die Aktualisierung der Dateien</translation>
    </message>
    <message>
        <source>rolling back file updates</source>
        <translation>Mache die Aktualisierung der Dateien rückgängig</translation>
    </message>
</context>
<context>
    <name>FileReplaceTaskSpecification</name>
    <message>
        <source>add/replace %1</source>
        <translation>hinzufügen/ersetzen %1</translation>
    </message>
    <message>
        <source>Patching %1</source>
        <translation>Patche %1</translation>
    </message>
</context>
<context>
    <name>FileTaskSpecification_patch</name>
    <message>
        <source>Could not patch &apos;%1&apos; to &apos;%2&apos;</source>
        <translation>&apos;%1&apos; konnte nicht zu &apos;%2&apos; gepatcht werden</translation>
    </message>
</context>
<context>
    <name>FileUnpackTaskSpecification_lzma2</name>
    <message>
        <source>Could not unpack &apos;%1&apos; to &apos;%2&apos;</source>
        <translation>&apos;%1&apos; konnte nicht nach &apos;%2&apos; entpackt werden</translation>
    </message>
</context>
<context>
    <name>FileUnpackTaskSpecification_zip</name>
    <message>
        <source>Could not unzip &apos;%1&apos; to &apos;%2&apos;</source>
        <translation>&apos;%1&apos; konnte nicht nach &apos;%2&apos; entpackt werden (gzip)</translation>
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
    <name>MainTaskSpecification</name>
    <message>
        <source>Starting update process for </source>
        <translation>Starte die Aktualisierung für </translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Orvane 3 Client Update</source>
        <translation>Orvane 3 Client-Update</translation>
    </message>
    <message>
        <source>&lt;small&gt;© Orvane Software. &lt;a href=&quot;http://www.orvane.example/&quot;&gt;Orvane&lt;/a&gt; keeps your client up to date.&lt;/small&gt;</source>
        <translation>&lt;small&gt;© Orvane Software. &lt;a href=&quot;http://www.orvane.example/&quot;&gt;Orvane&lt;/a&gt; hält Ihren Client aktuell.&lt;/small&gt;</translation>
    </message>
    <message>
        <source>Details</source>
        <translation>Details</translation>
    </message>
    <message>
        <source>Update to Orvane %1</source>
        <translation>Aktualisierung auf Orvane %1</translation>
    </message>
    <message>
        <source>Beta</source>
        <translation>Beta</translation>
    </message>
    <message>
        <source>Alpha</source>
        <translation>Alpha</translation>
    </message>
    <message>
        <source>Stable</source>
        <translation>Stable</translation>
    </message>
    <message>
        <source>You are currently on &lt;strong&gt;%1 channel&lt;/strong&gt;.</source>
        <translation>Sie nutzen derzeit den &lt;strong&gt;%1-Kanal&lt;/strong&gt;.</translation>
    </message>
    <message>
        <source>Step two: Updating Orvane client</source>
        <translation>Schritt zwei: Aktualisiere den Orvane-Client</translation>
    </message>
    <message>
        <source>Step one: Updating updater</source>
        <translation>Schritt eins: Aktualisiere das Update-Programm</translation>
    </message>
    <message>
        <source>Update cancelled</source>
        <translation>Aktualisierung abgebrochen</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>Aktualisierung</translation>
    </message>
    <message>
        <source>Update cancelled. Push &quot;Details&quot; to check reasons.</source>
        <translation>Aktualisierung abgebrochen. Die Gründe finden Sie unter &quot;Details&quot;.</translation>
    </message>
    <message>
        <source>Question</source>
        <translation>Frage</translation>
    </message>
    <message>
        <source>&lt;p&gt;Update in progress.&lt;/p&gt;&lt;p&gt;Are you sure you want to abort?&lt;/p&gt;</source>
        <translation>&lt;p&gt;Die Aktualisierung läuft.&lt;/p&gt;&lt;p&gt;Wollen Sie sie wirklich abbrechen?&lt;/p&gt;</translation>
    </message>
    <message>
        <source>Confirm reboot</source>
        <translation>Neustart bestätigen</translation>
    </message>
    <message>
        <source>&lt;p&gt;A computer restart is required to proceed with the client update. If you do not reboot now, the Orvane update will be cancelled.&lt;/p&gt;&lt;p&gt;Do you want to reboot now?&lt;/p&gt;</source>
        <translation>&lt;p&gt;Für die weitere Aktualisierung des Clients muss der Computer neu gestartet werden. Wenn Sie jetzt nicht neu starten, wird die Orvane-Aktualisierung abgebrochen.&lt;/p&gt;&lt;p&gt;Wollen Sie jetzt neu starten?&lt;/p&gt;</translation>
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
    <name>PrePostInstallFunc</name>
    <message>
        <source>Starting %1</source>
        <translation>Starte %1</translation>
    </message>
    <message>
        <source>Failed to start %1: %2</source>
        <translation>%1 konnte nicht gestartet werden: %2</translation>
    </message>
    <message>
        <source>Failed to run %1: %2</source>
        <translation>%1 konnte nicht ausgeführt werden: %2</translation>
    </message>
    <message>
        <source>%1 completed sucessfully</source>
        <translation>%1 erfolgreich abgeschlossen</translation>
    </message>
    <message>
        <source>Failed to complete %1, exit code: %2</source>
        <translation>%1 konnte nicht abgeschlossen werden, Exit-Code: %2</translation>
    </message>
    <message>
        <source>%1 completed sucessfully, reboot required</source>
        <translation>%1 erfolgreich abgeschlossen, Neustart erforderlich</translation>
    </message>
</context>
<context>
    <name>PrePostInstallListTaskSpecification</name>
    <message>
        <source>Starting install condition</source>
        <translation>Starte Installationsbedingung</translation>
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
        <translation>Warnung: Rücknahme der angelegten Datei %1 fehlgeschlagen</translation>
    </message>
    <message>
        <source>warning: rollback create dir %1 failed</source>
        <translation>Warnung: Rücknahme des angelegten Verzeichnisses %1 fehlgeschlagen</translation>
    </message>
    <message>
        <source>warning: rollback rename %1 to %2 failed</source>
        <translation>Warnung: Rücknahme der Umbenennung von %1 in %2 fehlgeschlagen</translation>
    </message>
</context>
<context>
    <name>UpdateEngine</name>
    <message>
        <source>&apos;%1&apos; is an invalid proxy specification</source>
        <translation>&apos;%1&apos; ist keine gültige Proxy-Angabe</translation>
    </message>
    <message>
        <source>Previous update session for v. %1 found</source>
        <translation>Frühere Aktualisierungssitzung für v. %1 gefunden</translation>
    </message>
    <message>
        <source>Cleanup previous session (v. %1, %2) files...</source>
        <translation>Entferne die Dateien der früheren Sitzung (v. %1, %2)...</translation>
    </message>
    <message>
        <source>Ok</source>
        <translation>Ok</translation>
    </message>
    <message>
        <source>Failed to remove directory</source>
        <translation>Verzeichnis konnte nicht entfernt werden</translation>
    </message>
    <message>
        <source>Failed to write update.ini. The updater does not seem to have the required write permissions.</source>
        <translation>update.ini konnte nicht geschrieben werden. Das Update-Programm hat offenbar nicht die nötigen Schreibrechte.</translation>
    </message>
    <message>
        <source>Update successfully finished</source>
        <translation>Aktualisierung erfolgreich abgeschlossen</translation>
    </message>
    <message>
        <source>User aborted update</source>
        <translation>Aktualisierung vom Benutzer abgebrochen</translation>
    </message>
    <message>
        <source>Remove temporary files...</source>
        <translation>Entferne temporäre Dateien...</translation>
    </message>
    <message>
        <source>Temporary files removed.</source>
        <translation>Temporäre Dateien entfernt.</translation>
    </message>
    <message>
        <source>Removed temporary update.ini</source>
        <translation>Temporäre update.ini entfernt</translation>
    </message>
</context>
<context>
    <name>UpdateSelfUnzipTaskSpecification</name>
    <message>
        <source>Patching %1</source>
        <translation>Patche %1</translation>
    </message>
    <message>
        <source>Failed to write temp update.ini. The updater does not seem to have the required write permissions.</source>
        <translation>Die temporäre update.ini konnte nicht geschrieben werden. Der Updater scheint nicht die nötigen Schreibrechte zu haben.</translation>
    </message>
</context>
</TS>
