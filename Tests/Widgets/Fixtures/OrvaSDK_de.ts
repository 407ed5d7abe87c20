<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>SOrvaEditorLoginBox</name>
    <message>
        <source>LOG IN</source>
        <comment>Login</comment>
        <translation>ANMELDEN</translation>
    </message>
    <message>
        <source>Password:</source>
        <comment>HintText_Password</comment>
        <translation>Passwort:</translation>
    </message>
</context>
</TS>
