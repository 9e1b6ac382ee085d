<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="en">
<context>
    <name>RelativeTime</name>
    <message numerus="yes">
        <source>%n year(s) ago</source>
        <translation>
            <numerusform>%n year ago</numerusform>
            <numerusform>%n years ago</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>in %n year(s)</source>
        <translation>
            <numerusform>in %n year</numerusform>
            <numerusform>in %n years</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n month(s) ago</source>
        <translation>
            <numerusform>%n month ago</numerusform>
            <numerusform>%n months ago</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>in %n month(s)</source>
        <translation>
            <numerusform>in %n month</numerusform>
            <numerusform>in %n months</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n week(s) ago</source>
        <translation>
            <numerusform>%n week ago</numerusform>
            <numerusform>%n weeks ago</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>in %n week(s)</source>
        <translation>
            <numerusform>in %n week</numerusform>
            <numerusform>in %n weeks</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n day(s) ago</source>
        <translation>
            <numerusform>%n day ago</numerusform>
            <numerusform>%n days ago</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>in %n day(s)</source>
        <translation>
            <numerusform>in %n day</numerusform>
            <numerusform>in %n days</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n hour(s) ago</source>
        <translation>
            <numerusform>%n hour ago</numerusform>
            <numerusform>%n hours ago</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>in %n hour(s)</source>
        <translation>
            <numerusform>in %n hour</numerusform>
            <numerusform>in %n hours</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n minute(s) ago</source>
        <translation>
            <numerusform>%n minute ago</numerusform>
            <numerusform>%n minutes ago</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>in %n minute(s)</source>
        <translation>
            <numerusform>in %n minute</numerusform>
            <numerusform>in %n minutes</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n second(s) ago</source>
        <translation>
            <numerusform>%n second ago</numerusform>
            <numerusform>%n seconds ago</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>in %n second(s)</source>
        <translation>
            <numerusform>in %n second</numerusform>
            <numerusform>in %n seconds</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>StatusSummary</name>
    <message numerus="yes">
        <source>about %Ln hour(s) left</source>
        <translation>
            <numerusform>about %Ln hour left</numerusform>
            <numerusform>about %Ln hours left</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>about %Ln minute(s) left</source>
        <translation>
            <numerusform>about %Ln minute left</numerusform>
            <numerusform>about %Ln minutes left</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Syncing %1 of %Ln file(s)</source>
        <extracomment>Files done of all files of the pass: &quot;Syncing 12 of 40 files&quot;.</extracomment>
        <translation>
            <numerusform>Syncing %1 of %Ln file</numerusform>
            <numerusform>Syncing %1 of %Ln files</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%Ln removal(s) held back</source>
        <translation>
            <numerusform>%Ln removal held back</numerusform>
            <numerusform>%Ln removals held back</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Up to date · %Ln file(s) not synced</source>
        <translation>
            <numerusform>Up to date · %Ln file not synced</numerusform>
            <numerusform>Up to date · %Ln files not synced</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>SyncEngine</name>
    <message numerus="yes">
        <source>%Ln file(s) deleted on the server were moved to the Trash</source>
        <translation>
            <numerusform>%Ln file deleted on the server was moved to the Trash</numerusform>
            <numerusform>%Ln files deleted on the server were moved to the Trash</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%Ln file(s) changed on both sides; both versions of each were kept</source>
        <translation>
            <numerusform>%Ln file changed on both sides; both versions were kept</numerusform>
            <numerusform>%Ln files changed on both sides; both versions of each were kept</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%Ln file(s) deleted on the server could not be moved to the Trash and were kept</source>
        <translation>
            <numerusform>%Ln file deleted on the server could not be moved to the Trash and was kept</numerusform>
            <numerusform>%Ln files deleted on the server could not be moved to the Trash and were kept</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%Ln file(s) were removed from %1. Remove them from the server too?</source>
        <translation>
            <numerusform>%Ln file was removed from %1. Remove them from the server too?</numerusform>
            <numerusform>%Ln files were removed from %1. Remove them from the server too?</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1 (and %Ln more)</source>
        <translation>
            <numerusform>%1 (and %Ln more)</numerusform>
            <numerusform>%1 (and %Ln more)</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>SyncStatusView</name>
    <message numerus="yes">
        <source>%Ln file(s) not synced</source>
        <translation>
            <numerusform>%Ln file not synced</numerusform>
            <numerusform>%Ln files not synced</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%Ln file(s) were removed from %1. Remove them from the server too?</source>
        <translation>
            <numerusform>%Ln file was removed from %1. Remove them from the server too?</numerusform>
            <numerusform>%Ln files were removed from %1. Remove them from the server too?</numerusform>
        </translation>
    </message>
</context>
</TS>
