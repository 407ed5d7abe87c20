<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<!-- English as a creator reads it. The source texts in the code are the system's own (logs and
     other catalogues key on them); what shows on screen in English is polished here, as any other
     language is translated. Compiled by the build with lrelease. -->
<TS version="2.1" language="en">
<context>
    <name>FOrvaSDKModule</name>
    <message>
        <source>OrvaSDKTab</source>
        <comment>FOrvaSDKTabTitle</comment>
        <translation>ORVA</translation>
    </message>
</context>
<context>
    <name>SOrvaEditorLoginBox</name>
    <message>
        <source>Email or PhoneNumber:</source>
        <comment>HintText_User</comment>
        <translation>Email or phone number</translation>
    </message>
    <message>
        <source>Password:</source>
        <comment>HintText_Password</comment>
        <translation>Password</translation>
    </message>
</context>
<context>
    <name>SOrvaEditorWorldView</name>
    <message>
        <source>{0} - </source>
        <comment>TextBlockWorldName</comment>
        <translation>{0}</translation>
    </message>
    <message>
        <source>Write something to description your World ...</source>
        <comment>HintTextDescription</comment>
        <translation>Describe your world for the players who find it...</translation>
    </message>
    <message>
        <source>Scene(Entry Map)</source>
        <comment>TextBlockScene</comment>
        <translation>Entry map (the level players start in)</translation>
    </message>
    <message>
        <source>Upload ({0})</source>
        <comment>AreaUpload</comment>
        <translation>Build and publish</translation>
    </message>
    <message>
        <source>Launch ORVAClient on Web</source>
        <comment>LaunchSandbox_Tooltip</comment>
        <translation>Open the ORVA web site in your browser</translation>
    </message>
    <message>
        <source>Open Build Folder</source>
        <comment>OpenPaks</comment>
        <translation>Open Build Folder</translation>
    </message>
    <message>
        <source>Open Build Folder</source>
        <comment>OpenPaks_Tooltip</comment>
        <translation>Show the built paks in the file browser</translation>
    </message>
</context>
<context>
    <name>SOrvaThumbnail</name>
    <message>
        <source>Delete this one</source>
        <comment>Delete_Tooltip</comment>
        <translation>Delete this world</translation>
    </message>
</context>
<context>
    <name>OrvaSDK</name>
    <message>
        <source>{0} is upload faild.</source>
        <comment>UploadFailedMessage</comment>
        <translation>{0} could not be uploaded.</translation>
    </message>
    <message>
        <source>{0} is upload Successfully.</source>
        <comment>UploadSuccessMessage</comment>
        <translation>{0} uploaded.</translation>
    </message>
</context>
</TS>
