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
    <message>
        <source>Orva Activity</source>
        <comment>FOrvaSDKActivityTabTitle</comment>
        <translation>ORVA Activity</translation>
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
    <message>
        <source>Activity</source>
        <comment>AreaActivity</comment>
        <translation>Activity</translation>
    </message>
    <message>
        <source>Show or hide the steps of the builds, publishes and launches</source>
        <comment>AreaActivity_Tooltip</comment>
        <translation>Show or hide the steps of the builds, publishes and launches</translation>
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
    <message>
        <source>Register the paks of {0}</source>
        <comment>ActivityRegister</comment>
        <translation>Register the paks of {0}</translation>
    </message>
    <message>
        <source>Replaced by a later move</source>
        <comment>ActivityMoveReplaced</comment>
        <translation>Replaced by a later move</translation>
    </message>
    <message>
        <source>Move the entry map's packages into {0}</source>
        <comment>ActivityMove</comment>
        <translation>Move the entry map's packages into {0}</translation>
    </message>
    <message>
        <source>No level is open in the editor: the folders were not moved</source>
        <comment>ActivityMoveNoWorld</comment>
        <translation>No level is open in the editor: the folders were not moved</translation>
    </message>
    <message>
        <source>The service gave an answer that cannot be read (HTTP {0}).</source>
        <comment>UploadCauseUnreadable</comment>
        <translation>The service gave an answer that cannot be read (HTTP {0}).</translation>
    </message>
    <message>
        <source>Upload the {0} pak ({1})</source>
        <comment>UploadJobTitle</comment>
        <translation>Upload the {0} pak ({1})</translation>
    </message>
    <message>
        <source>The SDK is not running.</source>
        <comment>UploadCauseNoSdk</comment>
        <translation>The SDK is not running.</translation>
    </message>
    <message>
        <source>"{0}" cannot name a component.</source>
        <comment>UploadCauseBadComponent</comment>
        <translation>"{0}" cannot name a component.</translation>
    </message>
    <message>
        <source>Asking the service about the component</source>
        <comment>UploadPhaseState</comment>
        <translation>Asking the service about the component</translation>
    </message>
    <message>
        <source>Already held complete by the service: skipped</source>
        <comment>UploadPhaseHeld</comment>
        <translation>Already held complete by the service: skipped</translation>
    </message>
    <message>
        <source>The pak file is missing: {0}</source>
        <comment>UploadCauseMissing</comment>
        <translation>The pak file is missing: {0}</translation>
    </message>
    <message>
        <source>The pak is too large to upload ({0} bytes, at most {1}).</source>
        <comment>UploadCauseTooLarge</comment>
        <translation>The pak is too large to upload ({0} bytes, at most {1}).</translation>
    </message>
    <message>
        <source>Asking for storage credentials</source>
        <comment>UploadPhaseCredentials</comment>
        <translation>Asking for storage credentials</translation>
    </message>
    <message>
        <source>The service named no place in the store for the pak.</source>
        <comment>UploadCauseNoKey</comment>
        <translation>The service named no place in the store for the pak.</translation>
    </message>
    <message>
        <source>Uploading</source>
        <comment>UploadPhasePut</comment>
        <translation>Uploading</translation>
    </message>
    <message>
        <source>The store refused the pak ({0}): {1}</source>
        <comment>UploadCausePut</comment>
        <translation>The store refused the pak ({0}): {1}</translation>
    </message>
    <message>
        <source>Confirming the upload with the service</source>
        <comment>UploadPhaseComplete</comment>
        <translation>Confirming the upload with the service</translation>
    </message>
    <message>
        <source>Stored, but the service did not confirm it: {0}</source>
        <comment>UploadCauseCompletion</comment>
        <translation>Stored, but the service did not confirm it: {0}</translation>
    </message>
    <message>
        <source>Cancelled</source>
        <comment>UploadCauseCancelled</comment>
        <translation>Cancelled</translation>
    </message>
    <message>
        <source>The upload failed.</source>
        <comment>UploadCauseUnknown</comment>
        <translation>The upload failed.</translation>
    </message>
    <message>
        <source>The server pak was not stored: the client was not started</source>
        <comment>ActivityLaunchNoServerPak</comment>
        <translation>The server pak was not stored: the client was not started</translation>
    </message>
    <message>
        <source>Another world was selected meanwhile: the client was not started</source>
        <comment>ActivityLaunchOtherWorld</comment>
        <translation>Another world was selected meanwhile: the client was not started</translation>
    </message>
    <message>
        <source>The ORVA client could not be started; the log says why</source>
        <comment>ActivityLaunchNoClient</comment>
        <translation>The ORVA client could not be started; the log says why</translation>
    </message>
    <message>
        <source>Build {0} for {1}</source>
        <comment>ActivityBuild</comment>
        <translation>Build {0} for {1}</translation>
    </message>
    <message>
        <source>Replaced by a later launch</source>
        <comment>ActivityLaunchReplaced</comment>
        <translation>Replaced by a later launch</translation>
    </message>
    <message>
        <source>Launch ORVA</source>
        <comment>ActivityLaunch</comment>
        <translation>Launch ORVA</translation>
    </message>
    <message>
        <source>Waiting for the server pak to be stored</source>
        <comment>ActivityLaunchWaiting</comment>
        <translation>Waiting for the server pak to be stored</translation>
    </message>
    <message>
        <source>Stored and confirmed by the service</source>
        <comment>UploadPhaseDone</comment>
        <translation>Stored and confirmed by the service</translation>
    </message>
    <message>
        <source>The world id "{0}" cannot go into a request</source>
        <comment>ActivityRegisterBadWorld</comment>
        <translation>The world id "{0}" cannot go into a request</translation>
    </message>
    <message>
        <source>The service's answer is not a list of components</source>
        <comment>ActivityRegisterUnreadable</comment>
        <translation>The service's answer is not a list of components</translation>
    </message>
    <message>
        <source>Not every component could be recorded here; the log says which</source>
        <comment>ActivityRegisterNotRecorded</comment>
        <translation>Not every component could be recorded here; the log says which</translation>
    </message>
</context>
<context>
    <name>SOrvaActivityPanel</name>
    <message>
        <source>Waiting</source>
        <comment>StateWaiting</comment>
        <translation>Waiting</translation>
    </message>
    <message>
        <source>Running</source>
        <comment>StateRunning</comment>
        <translation>Running</translation>
    </message>
    <message>
        <source>Done</source>
        <comment>StateDone</comment>
        <translation>Done</translation>
    </message>
    <message>
        <source>Failed</source>
        <comment>StateFailed</comment>
        <translation>Failed</translation>
    </message>
    <message>
        <source>Cancelled</source>
        <comment>StateCancelled</comment>
        <translation>Cancelled</translation>
    </message>
    <message>
        <source>{0} s left</source>
        <comment>SecondsLeft</comment>
        <translation>{0} s left</translation>
    </message>
    <message>
        <source>{0} min left</source>
        <comment>MinutesLeft</comment>
        <translation>{0} min left</translation>
    </message>
    <message>
        <source>{0} h {1} min left</source>
        <comment>HoursLeft</comment>
        <translation>{0} h {1} min left</translation>
    </message>
    <message>
        <source>Cancel</source>
        <comment>Cancel</comment>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Stop this step; nothing it has not finished is kept</source>
        <comment>Cancel_Tooltip</comment>
        <translation>Stop this step; nothing it has not finished is kept</translation>
    </message>
    <message>
        <source>Retry</source>
        <comment>Retry</comment>
        <translation>Retry</translation>
    </message>
    <message>
        <source>Run this step again; what the service already holds complete is not sent again</source>
        <comment>Retry_Tooltip</comment>
        <translation>Run this step again; what the service already holds complete is not sent again</translation>
    </message>
    <message>
        <source>Dismiss</source>
        <comment>Dismiss</comment>
        <translation>Dismiss</translation>
    </message>
    <message>
        <source>Remove it from the list</source>
        <comment>Dismiss_Tooltip</comment>
        <translation>Remove it from the list</translation>
    </message>
    <message>
        <source>Show log</source>
        <comment>ShowLog</comment>
        <translation>Show log</translation>
    </message>
    <message>
        <source>The log lines written while this step ran</source>
        <comment>ShowLog_Tooltip</comment>
        <translation>The log lines written while this step ran</translation>
    </message>
    <message>
        <source>Hide log</source>
        <comment>HideLog</comment>
        <translation>Hide log</translation>
    </message>
    <message>
        <source>{0} of {1}</source>
        <comment>DoneOfTotal</comment>
        <translation>{0} of {1}</translation>
    </message>
    <message>
        <source>{0}/s</source>
        <comment>Rate</comment>
        <translation>{0}/s</translation>
    </message>
    <message>
        <source>World {0}</source>
        <comment>World_Tooltip</comment>
        <translation>World {0}</translation>
    </message>
    <message>
        <source>No log lines were written during this step.</source>
        <comment>NoLogLines</comment>
        <translation>No log lines were written during this step.</translation>
    </message>
    <message>
        <source>Nothing has run yet: the steps of a build, publish or launch show here while they run, and stay afterwards.</source>
        <comment>NoSteps</comment>
        <translation>Nothing has run yet: the steps of a build, publish or launch show here while they run, and stay afterwards.</translation>
    </message>
    <message>
        <source>{0}: component {1}, {2}</source>
        <comment>OutcomePak</comment>
        <translation>{0}: component {1}, {2}</translation>
    </message>
    <message>
        <source>Last published {0} ({1}), check code {2}
{3}</source>
        <comment>Outcome</comment>
        <translation>Last published {0} ({1}), check code {2}
{3}</translation>
    </message>
    <message>
        <source>This world has not been published from this project yet.</source>
        <comment>NeverPublished</comment>
        <translation>This world has not been published from this project yet.</translation>
    </message>
    <message>
        <source>{0}%</source>
        <comment>Percent</comment>
        <translation>{0}%</translation>
    </message>
</context>
</TS>
