<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de" sourcelanguage="en">
<context>
    <name>AppState</name>
    <message>
        <source>%1 is the watched folder %2.</source>
        <translation>%1 ist der überwachte Ordner %2.</translation>
    </message>
    <message>
        <source>%1 lies inside the watched folder %2; a folder inside a watched folder is already synced with it.</source>
        <translation>%1 liegt im überwachten Ordner %2; ein Ordner in einem überwachten Ordner wird bereits mit ihm synchronisiert.</translation>
    </message>
    <message>
        <source>%1 holds the watched folder %2; remove %2 first to watch the folder around it.</source>
        <translation>%1 enthält den überwachten Ordner %2; entfernen Sie zuerst %2, um den umgebenden Ordner zu überwachen.</translation>
    </message>
    <message>
        <source>Synced</source>
        <translation>Synchronisiert</translation>
    </message>
    <message>
        <source>Syncing...</source>
        <translation>Wird synchronisiert …</translation>
    </message>
    <message>
        <source>Error: %1</source>
        <translation>Fehler: %1</translation>
    </message>
</context>
<context>
    <name>ConnectionFailure</name>
    <message>
        <source>This server does not speak HTTPS; try %1</source>
        <translation>Dieser Server unterstützt kein HTTPS; versuchen Sie %1</translation>
    </message>
    <message>
        <source>Could not reach %1. Is the server running?</source>
        <translation>%1 ist nicht erreichbar. Läuft der Server?</translation>
    </message>
    <message>
        <source>Could not find the server %1. Check the address.</source>
        <translation>Der Server %1 wurde nicht gefunden. Prüfen Sie die Adresse.</translation>
    </message>
    <message>
        <source>Could not reach %1. Check your connection.</source>
        <translation>%1 ist nicht erreichbar. Prüfen Sie Ihre Verbindung.</translation>
    </message>
    <message>
        <source>The connection to %1 was lost. Check your connection.</source>
        <translation>Die Verbindung zu %1 wurde unterbrochen. Prüfen Sie Ihre Verbindung.</translation>
    </message>
</context>
<context>
    <name>FolderPlan</name>
    <message>
        <source>A folder on its path is now a symbolic link or a file; it syncs again when the folder is back</source>
        <translation>Ein Ordner auf dem Pfad ist jetzt eine symbolische Verknüpfung oder eine Datei; die Datei wird wieder synchronisiert, sobald der Ordner zurück ist</translation>
    </message>
    <message>
        <source>Another file named %1 in this folder is synced: %2</source>
        <translation>Eine andere Datei namens %1 in diesem Ordner wird bereits synchronisiert: %2</translation>
    </message>
    <message>
        <source>Another file named %1 in this folder is synced</source>
        <translation>Eine andere Datei namens %1 in diesem Ordner wird bereits synchronisiert</translation>
    </message>
    <message>
        <source>A different document named %1 is on the server</source>
        <translation>Auf dem Server liegt ein anderes Dokument namens %1</translation>
    </message>
    <message>
        <source>The file could not be read</source>
        <translation>Die Datei konnte nicht gelesen werden</translation>
    </message>
</context>
<context>
    <name>FolderRun</name>
    <message>
        <source>%1 was deleted on the server, but it could not be moved to the Trash: %2</source>
        <translation>%1 wurde auf dem Server gelöscht, konnte aber nicht in den Papierkorb verschoben werden: %2</translation>
    </message>
    <message>
        <source>%1 was deleted on the server and moved to the Trash</source>
        <translation>%1 wurde auf dem Server gelöscht und in den Papierkorb verschoben</translation>
    </message>
    <message>
        <source>%1 changed just before it was moved to the Trash; restore it from there</source>
        <translation>%1 wurde kurz vor dem Verschieben in den Papierkorb geändert; stellen Sie die Datei von dort wieder her</translation>
    </message>
    <message>
        <source>%1 changed on both sides; the version on %2 is newer, and the server&apos;s version was kept as %3</source>
        <translation>%1 wurde auf beiden Seiten geändert; die Version auf %2 ist neuer, die Version vom Server wurde als %3 behalten</translation>
    </message>
    <message>
        <source>The server&apos;s version of %1 was saved as %2</source>
        <translation>Die Version von %1 auf dem Server wurde als %2 gespeichert</translation>
    </message>
    <message>
        <source>%1 changed on both sides; the version on %2 was kept as %3</source>
        <translation>%1 wurde auf beiden Seiten geändert; die Version auf %2 wurde als %3 behalten</translation>
    </message>
</context>
<context>
    <name>LocalScanner</name>
    <message>
        <source>The name is not valid UTF-8; rename the file to sync it</source>
        <translation>Der Name ist kein gültiges UTF-8; benennen Sie die Datei um, damit sie synchronisiert wird</translation>
    </message>
    <message>
        <source>The folder&apos;s name is not valid UTF-8; rename it to sync what it holds</source>
        <translation>Der Name des Ordners ist kein gültiges UTF-8; benennen Sie ihn um, damit sein Inhalt synchronisiert wird</translation>
    </message>
    <message>
        <source>Not mounted: the files below %1 are left as they are until it is mounted again</source>
        <translation>Nicht eingehängt: Die Dateien unter %1 bleiben unverändert, bis es wieder eingehängt ist</translation>
    </message>
</context>
<context>
    <name>LoginView</name>
    <message>
        <source>Sign In</source>
        <translation>Anmelden</translation>
    </message>
    <message>
        <source>Sign in to sync your documents</source>
        <translation>Melden Sie sich an, um Ihre Dokumente zu synchronisieren</translation>
    </message>
    <message>
        <source>&amp;Server</source>
        <translation>&amp;Server</translation>
    </message>
    <message>
        <source>&amp;Email</source>
        <translation>&amp;E-Mail</translation>
    </message>
    <message>
        <source>&amp;Password</source>
        <translation>&amp;Passwort</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
</context>
<context>
    <name>MenuBarView</name>
    <message>
        <source>Sign in to start syncing</source>
        <translation>Melden Sie sich an, um mit der Synchronisierung zu beginnen</translation>
    </message>
    <message>
        <source>Sign In...</source>
        <translation>Anmelden …</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>Sync Now</source>
        <translation>Jetzt synchronisieren</translation>
    </message>
    <message>
        <source>Pause Syncing</source>
        <translation>Synchronisierung pausieren</translation>
    </message>
    <message>
        <source>Settings...</source>
        <translation>Einstellungen …</translation>
    </message>
    <message>
        <source>Quit TavrelSync</source>
        <translation>TavrelSync beenden</translation>
    </message>
    <message>
        <source>Resume Syncing</source>
        <translation>Synchronisierung fortsetzen</translation>
    </message>
</context>
<context>
    <name>Notice</name>
    <message>
        <source>Conflict copy made</source>
        <translation>Konfliktkopie angelegt</translation>
    </message>
    <message>
        <source>Moved to the Trash</source>
        <translation>In den Papierkorb verschoben</translation>
    </message>
    <message>
        <source>A file was kept</source>
        <translation>Eine Datei wurde behalten</translation>
    </message>
    <message>
        <source>Files removed</source>
        <translation>Dateien entfernt</translation>
    </message>
</context>
<context>
    <name>Notifier</name>
    <message>
        <source>Restore</source>
        <translation>Wiederherstellen</translation>
    </message>
    <message>
        <source>Remove</source>
        <translation>Entfernen</translation>
    </message>
    <message>
        <source>Show Conflicts</source>
        <translation>Konflikte anzeigen</translation>
    </message>
    <message>
        <source>Open Folder</source>
        <translation>Ordner öffnen</translation>
    </message>
    <message>
        <source>Sync failed</source>
        <translation>Synchronisierung fehlgeschlagen</translation>
    </message>
    <message>
        <source>The server no longer accepts the session for %1. Syncing waits until you sign in again.</source>
        <translation>Der Server akzeptiert die Sitzung für %1 nicht mehr. Die Synchronisierung wartet, bis Sie sich erneut anmelden.</translation>
    </message>
    <message>
        <source>The server no longer accepts the session. Syncing waits until you sign in again.</source>
        <translation>Der Server akzeptiert die Sitzung nicht mehr. Die Synchronisierung wartet, bis Sie sich erneut anmelden.</translation>
    </message>
    <message>
        <source>Sign in again</source>
        <translation>Erneut anmelden</translation>
    </message>
    <message>
        <source>Sign In...</source>
        <translation>Anmelden …</translation>
    </message>
</context>
<context>
    <name>OpenLocation</name>
    <message>
        <source>Could not open the file: where it is is not known.</source>
        <translation>Die Datei konnte nicht geöffnet werden: Ihr Speicherort ist nicht bekannt.</translation>
    </message>
    <message>
        <source>Could not open %1: it no longer exists.</source>
        <translation>%1 konnte nicht geöffnet werden: Es existiert nicht mehr.</translation>
    </message>
    <message>
        <source>Could not open %1: the desktop has no application for it.</source>
        <translation>%1 konnte nicht geöffnet werden: Auf dem Desktop gibt es keine Anwendung dafür.</translation>
    </message>
</context>
<context>
    <name>ProxySettingsView</name>
    <message>
        <source>No proxy</source>
        <translation>Kein Proxy</translation>
    </message>
    <message>
        <source>Use the system&apos;s proxy settings</source>
        <translation>Proxy-Einstellungen des Systems verwenden</translation>
    </message>
    <message>
        <source>Use this HTTP proxy:</source>
        <translation>Diesen HTTP-Proxy verwenden:</translation>
    </message>
    <message>
        <source>proxy.example.com</source>
        <translation>proxy.example.com</translation>
    </message>
    <message>
        <source>optional</source>
        <translation>optional</translation>
    </message>
    <message>
        <source>Host:</source>
        <translation>Host:</translation>
    </message>
    <message>
        <source>Port:</source>
        <translation>Port:</translation>
    </message>
    <message>
        <source>User:</source>
        <translation>Benutzer:</translation>
    </message>
    <message>
        <source>Password:</source>
        <translation>Passwort:</translation>
    </message>
</context>
<context>
    <name>RelativeTime</name>
    <message numerus="yes">
        <source>%n year(s) ago</source>
        <translation>
            <numerusform>vor %n Jahr</numerusform>
            <numerusform>vor %n Jahren</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>in %n year(s)</source>
        <translation>
            <numerusform>in %n Jahr</numerusform>
            <numerusform>in %n Jahren</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n month(s) ago</source>
        <translation>
            <numerusform>vor %n Monat</numerusform>
            <numerusform>vor %n Monaten</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>in %n month(s)</source>
        <translation>
            <numerusform>in %n Monat</numerusform>
            <numerusform>in %n Monaten</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n week(s) ago</source>
        <translation>
            <numerusform>vor %n Woche</numerusform>
            <numerusform>vor %n Wochen</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>in %n week(s)</source>
        <translation>
            <numerusform>in %n Woche</numerusform>
            <numerusform>in %n Wochen</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n day(s) ago</source>
        <translation>
            <numerusform>vor %n Tag</numerusform>
            <numerusform>vor %n Tagen</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>in %n day(s)</source>
        <translation>
            <numerusform>in %n Tag</numerusform>
            <numerusform>in %n Tagen</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n hour(s) ago</source>
        <translation>
            <numerusform>vor %n Stunde</numerusform>
            <numerusform>vor %n Stunden</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>in %n hour(s)</source>
        <translation>
            <numerusform>in %n Stunde</numerusform>
            <numerusform>in %n Stunden</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n minute(s) ago</source>
        <translation>
            <numerusform>vor %n Minute</numerusform>
            <numerusform>vor %n Minuten</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>in %n minute(s)</source>
        <translation>
            <numerusform>in %n Minute</numerusform>
            <numerusform>in %n Minuten</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n second(s) ago</source>
        <translation>
            <numerusform>vor %n Sekunde</numerusform>
            <numerusform>vor %n Sekunden</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>in %n second(s)</source>
        <translation>
            <numerusform>in %n Sekunde</numerusform>
            <numerusform>in %n Sekunden</numerusform>
        </translation>
    </message>
    <message>
        <source>now</source>
        <translation>jetzt</translation>
    </message>
</context>
<context>
    <name>SessionFlows</name>
    <message>
        <source>The e-mail or password is not right. Check them and try again.</source>
        <translation>E-Mail-Adresse oder Passwort sind nicht richtig. Prüfen Sie beides und versuchen Sie es erneut.</translation>
    </message>
</context>
<context>
    <name>SettingsView</name>
    <message>
        <source>TavrelSync Settings</source>
        <translation>TavrelSync-Einstellungen</translation>
    </message>
    <message>
        <source>Folders</source>
        <translation>Ordner</translation>
    </message>
    <message>
        <source>Account</source>
        <translation>Konto</translation>
    </message>
    <message>
        <source>Not Synced</source>
        <translation>Nicht synchronisiert</translation>
    </message>
    <message>
        <source>General</source>
        <translation>Allgemein</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>Sign out as %1?</source>
        <translation>Als %1 abmelden?</translation>
    </message>
    <message>
        <source>Sign out?</source>
        <translation>Abmelden?</translation>
    </message>
    <message>
        <source>Syncing stops until you sign in again. Your files stay on this computer and on the server.</source>
        <translation>Die Synchronisierung ruht, bis Sie sich erneut anmelden. Ihre Dateien bleiben auf diesem Computer und auf dem Server.</translation>
    </message>
    <message>
        <source>Sign Out</source>
        <translation>Abmelden</translation>
    </message>
    <message>
        <source>Stop syncing “%1”?</source>
        <translation>„%1“ nicht mehr synchronisieren?</translation>
    </message>
    <message>
        <source>The files in %1 are kept on this computer and on the server; they are no longer kept in step.</source>
        <translation>Die Dateien in %1 bleiben auf diesem Computer und auf dem Server erhalten; sie werden nicht mehr abgeglichen.</translation>
    </message>
    <message>
        <source>Stop Syncing</source>
        <translation>Nicht mehr synchronisieren</translation>
    </message>
    <message>
        <source>Select a folder to sync with Tavrel</source>
        <translation>Ordner zum Synchronisieren mit Tavrel auswählen</translation>
    </message>
    <message>
        <source>Choose</source>
        <translation>Auswählen</translation>
    </message>
    <message>
        <source>Watched Folders</source>
        <translation>Überwachte Ordner</translation>
    </message>
    <message>
        <source>Select up to 5 folders to sync with Tavrel.</source>
        <translation>Wählen Sie bis zu 5 Ordner, die mit Tavrel synchronisiert werden.</translation>
    </message>
    <message>
        <source>Add Folder...</source>
        <translation>Ordner hinzufügen …</translation>
    </message>
    <message>
        <source>Sync every</source>
        <translation>Synchronisieren alle</translation>
    </message>
    <message>
        <source>You are signed out. Sign in to sync your folders again.</source>
        <translation>Sie sind abgemeldet. Melden Sie sich an, um Ihre Ordner wieder zu synchronisieren.</translation>
    </message>
    <message>
        <source>Sign In...</source>
        <translation>Anmelden …</translation>
    </message>
    <message>
        <source>Files in your folders that the sync leaves alone, and why.</source>
        <translation>Dateien in Ihren Ordnern, die nicht synchronisiert werden, und der Grund dafür.</translation>
    </message>
    <message>
        <source>File</source>
        <translation>Datei</translation>
    </message>
    <message>
        <source>Reason</source>
        <translation>Grund</translation>
    </message>
    <message>
        <source>Every file in your folders is synced.</source>
        <translation>Alle Dateien in Ihren Ordnern werden synchronisiert.</translation>
    </message>
    <message>
        <source>Start TavrelSync when I log in</source>
        <translation>TavrelSync bei der Anmeldung am Computer starten</translation>
    </message>
    <message>
        <source>Open Log</source>
        <translation>Protokoll öffnen</translation>
    </message>
    <message>
        <source>Version %1</source>
        <translation>Version %1</translation>
    </message>
    <message>
        <source>Keeps up to five folders in step with your Tavrel documents.</source>
        <translation>Hält bis zu fünf Ordner mit Ihren Tavrel-Dokumenten auf demselben Stand.</translation>
    </message>
    <message>
        <source>Overlaps %1; not synced until chosen again: %2</source>
        <translation>Überschneidet sich mit %1; wird erst wieder synchronisiert, wenn er erneut ausgewählt wird: %2</translation>
    </message>
    <message>
        <source>Missing or replaced; not synced until chosen again: %1</source>
        <translation>Fehlt oder wurde ersetzt; wird erst wieder synchronisiert, wenn er erneut ausgewählt wird: %1</translation>
    </message>
    <message>
        <source>Choose...</source>
        <translation>Auswählen …</translation>
    </message>
    <message>
        <source>Choose this folder again</source>
        <translation>Diesen Ordner erneut auswählen</translation>
    </message>
    <message>
        <source>Stop syncing this folder</source>
        <translation>Diesen Ordner nicht mehr synchronisieren</translation>
    </message>
    <message>
        <source>%1/5 folders</source>
        <translation>%1/5 Ordner</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>Email</source>
        <translation>E-Mail</translation>
    </message>
    <message>
        <source>Organization</source>
        <translation>Organisation</translation>
    </message>
    <message>
        <source>Server</source>
        <translation>Server</translation>
    </message>
    <message>
        <source>Not Synced (%1)</source>
        <translation>Nicht synchronisiert (%1)</translation>
    </message>
    <message>
        <source>Not added: %1</source>
        <translation>Nicht hinzugefügt: %1</translation>
    </message>
    <message>
        <source>15 seconds</source>
        <translation>15 Sekunden</translation>
    </message>
    <message>
        <source>30 seconds</source>
        <translation>30 Sekunden</translation>
    </message>
    <message>
        <source>1 minute</source>
        <translation>1 Minute</translation>
    </message>
    <message>
        <source>5 minutes</source>
        <translation>5 Minuten</translation>
    </message>
</context>
<context>
    <name>StatusSummary</name>
    <message>
        <source>at %1</source>
        <translation>um %1</translation>
    </message>
    <message>
        <source>on %1</source>
        <translation>am %1</translation>
    </message>
    <message>
        <source>TB</source>
        <translation>TB</translation>
    </message>
    <message>
        <source>GB</source>
        <translation>GB</translation>
    </message>
    <message>
        <source>MB</source>
        <translation>MB</translation>
    </message>
    <message>
        <source>kB</source>
        <translation>kB</translation>
    </message>
    <message>
        <source>bytes</source>
        <translation>Bytes</translation>
    </message>
    <message>
        <source>%1 of %2 %3</source>
        <extracomment>Bytes moved of all to move, and the unit: &quot;1.5 of 3.2 GB&quot;.</extracomment>
        <translation>%1 von %2 %3</translation>
    </message>
    <message>
        <source>%1 MB/s</source>
        <translation>%1 MB/s</translation>
    </message>
    <message>
        <source>%1 kB/s</source>
        <translation>%1 kB/s</translation>
    </message>
    <message numerus="yes">
        <source>about %Ln hour(s) left</source>
        <translation>
            <numerusform>noch etwa %Ln Stunde</numerusform>
            <numerusform>noch etwa %Ln Stunden</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>about %Ln minute(s) left</source>
        <translation>
            <numerusform>noch etwa %Ln Minute</numerusform>
            <numerusform>noch etwa %Ln Minuten</numerusform>
        </translation>
    </message>
    <message>
        <source>less than a minute left</source>
        <translation>noch weniger als eine Minute</translation>
    </message>
    <message>
        <source>Receiving %1 · %2 · %3</source>
        <extracomment>The file moving now, the speed and the time left: &quot;Sending Budget.xlsx · 4.2 MB/s · about 3 minutes left&quot;.</extracomment>
        <translation>Empfange %1 · %2 · %3</translation>
    </message>
    <message>
        <source>Sending %1 · %2 · %3</source>
        <translation>Sende %1 · %2 · %3</translation>
    </message>
    <message>
        <source>Syncing...</source>
        <translation>Wird synchronisiert …</translation>
    </message>
    <message numerus="yes">
        <source>Syncing %1 of %Ln file(s)</source>
        <extracomment>Files done of all files of the pass: &quot;Syncing 12 of 40 files&quot;.</extracomment>
        <translation>
            <numerusform>Synchronisiere %1 von %Ln Datei</numerusform>
            <numerusform>Synchronisiere %1 von %Ln Dateien</numerusform>
        </translation>
    </message>
    <message>
        <source>%1 · %2</source>
        <translation>%1 · %2</translation>
    </message>
    <message>
        <source>Signed out</source>
        <translation>Abgemeldet</translation>
    </message>
    <message>
        <source>Sign in to start syncing</source>
        <translation>Melden Sie sich an, um mit der Synchronisierung zu beginnen</translation>
    </message>
    <message>
        <source>Sign in again to keep syncing</source>
        <translation>Erneut anmelden, um weiter zu synchronisieren</translation>
    </message>
    <message>
        <source>The server no longer accepts this session</source>
        <translation>Der Server akzeptiert diese Sitzung nicht mehr</translation>
    </message>
    <message>
        <source>Add a folder to start syncing</source>
        <translation>Fügen Sie einen Ordner hinzu, um mit der Synchronisierung zu beginnen</translation>
    </message>
    <message>
        <source>Paused</source>
        <translation>Pausiert</translation>
    </message>
    <message>
        <source>Changes wait until you resume syncing</source>
        <translation>Änderungen warten, bis Sie die Synchronisierung fortsetzen</translation>
    </message>
    <message>
        <source>Next try %1</source>
        <translation>Nächster Versuch %1</translation>
    </message>
    <message>
        <source>Error: %1</source>
        <translation>Fehler: %1</translation>
    </message>
    <message>
        <source>Last synced %1</source>
        <translation>Zuletzt synchronisiert %1</translation>
    </message>
    <message>
        <source>Waiting for your answer</source>
        <translation>Wartet auf Ihre Antwort</translation>
    </message>
    <message numerus="yes">
        <source>%Ln removal(s) held back</source>
        <translation>
            <numerusform>%Ln Entfernung zurückgehalten</numerusform>
            <numerusform>%Ln Entfernungen zurückgehalten</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Up to date · %Ln file(s) not synced</source>
        <translation>
            <numerusform>Auf dem neuesten Stand · %Ln Datei nicht synchronisiert</numerusform>
            <numerusform>Auf dem neuesten Stand · %Ln Dateien nicht synchronisiert</numerusform>
        </translation>
    </message>
    <message>
        <source>Up to date</source>
        <translation>Auf dem neuesten Stand</translation>
    </message>
    <message>
        <source>Offline</source>
        <translation>Offline</translation>
    </message>
    <message>
        <source>Syncing resumes when the network is back</source>
        <translation>Die Synchronisierung wird fortgesetzt, sobald das Netzwerk wieder da ist</translation>
    </message>
</context>
<context>
    <name>SyncEngine</name>
    <message numerus="yes">
        <source>%Ln file(s) deleted on the server were moved to the Trash</source>
        <translation>
            <numerusform>%Ln auf dem Server gelöschte Datei wurde in den Papierkorb verschoben</numerusform>
            <numerusform>%Ln auf dem Server gelöschte Dateien wurden in den Papierkorb verschoben</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%Ln file(s) changed on both sides; both versions of each were kept</source>
        <translation>
            <numerusform>%Ln Datei wurde auf beiden Seiten geändert; beide Versionen wurden behalten</numerusform>
            <numerusform>%Ln Dateien wurden auf beiden Seiten geändert; von jeder wurden beide Versionen behalten</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%Ln file(s) deleted on the server could not be moved to the Trash and were kept</source>
        <translation>
            <numerusform>%Ln auf dem Server gelöschte Datei konnte nicht in den Papierkorb verschoben werden und wurde behalten</numerusform>
            <numerusform>%Ln auf dem Server gelöschte Dateien konnten nicht in den Papierkorb verschoben werden und wurden behalten</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%Ln file(s) were removed from %1. Remove them from the server too?</source>
        <translation>
            <numerusform>%Ln Datei wurde aus %1 entfernt. Auch vom Server entfernen?</numerusform>
            <numerusform>%Ln Dateien wurden aus %1 entfernt. Auch vom Server entfernen?</numerusform>
        </translation>
    </message>
    <message>
        <source>Upload failed: %1</source>
        <translation>Hochladen fehlgeschlagen: %1</translation>
    </message>
    <message>
        <source>Download failed: %1</source>
        <translation>Herunterladen fehlgeschlagen: %1</translation>
    </message>
    <message numerus="yes">
        <source>%1 (and %Ln more)</source>
        <translation>
            <numerusform>%1 (und %Ln weitere)</numerusform>
            <numerusform>%1 (und %Ln weitere)</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>SyncStatusView</name>
    <message>
        <source>Add Folder...</source>
        <translation>Ordner hinzufügen …</translation>
    </message>
    <message>
        <source>Sign In...</source>
        <translation>Anmelden …</translation>
    </message>
    <message>
        <source>Recent</source>
        <translation>Zuletzt</translation>
    </message>
    <message numerus="yes">
        <source>%Ln file(s) not synced</source>
        <translation>
            <numerusform>%Ln Datei nicht synchronisiert</numerusform>
            <numerusform>%Ln Dateien nicht synchronisiert</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%Ln file(s) were removed from %1. Remove them from the server too?</source>
        <translation>
            <numerusform>%Ln Datei wurde aus %1 entfernt. Auch vom Server entfernen?</numerusform>
            <numerusform>%Ln Dateien wurden aus %1 entfernt. Auch vom Server entfernen?</numerusform>
        </translation>
    </message>
    <message>
        <source>Remove</source>
        <translation>Entfernen</translation>
    </message>
    <message>
        <source>Restore</source>
        <translation>Wiederherstellen</translation>
    </message>
    <message>
        <source>Not synced: choose this folder again in the settings</source>
        <translation>Nicht synchronisiert: Wählen Sie diesen Ordner in den Einstellungen erneut aus</translation>
    </message>
</context>
<context>
    <name>TavrelSyncApp</name>
    <message>
        <source>Could not open</source>
        <translation>Konnte nicht geöffnet werden</translation>
    </message>
    <message>
        <source>TavrelSync – %1</source>
        <translation>TavrelSync – %1</translation>
    </message>
    <message>
        <source>Open TavrelSync</source>
        <translation>TavrelSync öffnen</translation>
    </message>
    <message>
        <source>Sign In...</source>
        <translation>Anmelden …</translation>
    </message>
    <message>
        <source>Sync Now</source>
        <translation>Jetzt synchronisieren</translation>
    </message>
    <message>
        <source>Pause Syncing</source>
        <translation>Synchronisierung pausieren</translation>
    </message>
    <message>
        <source>Settings...</source>
        <translation>Einstellungen …</translation>
    </message>
    <message>
        <source>Quit TavrelSync</source>
        <translation>TavrelSync beenden</translation>
    </message>
    <message>
        <source>Open %1</source>
        <translation>%1 öffnen</translation>
    </message>
    <message>
        <source>Resume Syncing</source>
        <translation>Synchronisierung fortsetzen</translation>
    </message>
    <message>
        <source>Network</source>
        <translation>Netzwerk</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Keeps your folders in step with the Tavrel document service.</source>
        <translation>Hält Ihre Ordner mit dem Tavrel-Dokumentendienst auf demselben Stand.</translation>
    </message>
    <message>
        <source>TavrelSync is already running; its panel was brought forward.</source>
        <translation>TavrelSync läuft bereits; sein Fenster wurde in den Vordergrund geholt.</translation>
    </message>
</context>
</TS>
