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
    <message>
        <source>Check</source>
        <comment>BtnCheck</comment>
        <translation>Check</translation>
    </message>
    <message>
        <source>Check what a build and publish of this world would run into</source>
        <comment>BtnCheck_Tooltip</comment>
        <translation>Check what a build and publish of this world would run into</translation>
    </message>
    <message>
        <source>Not built: fix the error below first, then press Build again.</source>
        <comment>BuildRefusedOne</comment>
        <translation>Not built: fix the error below first, then press Build again.</translation>
    </message>
    <message>
        <source>Not built: fix the {0} errors below first, then press Build again.</source>
        <comment>BuildRefused</comment>
        <translation>Not built: fix the {0} errors below first, then press Build again.</translation>
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
    <message>
        <source>Upload the screenshot {0}</source>
        <comment>ImageUploadJobTitle</comment>
        <translation>Upload the screenshot {0}</translation>
    </message>
    <message>
        <source>The screenshot {0} cannot be read.</source>
        <comment>ImageUploadCauseUnreadable</comment>
        <translation>The screenshot {0} cannot be read.</translation>
    </message>
    <message>
        <source>Only web addresses (http and https) are fetched.</source>
        <comment>ImageDownloadCauseAddress</comment>
        <translation>Only web addresses (http and https) are fetched.</translation>
    </message>
    <message>
        <source>The image could not be fetched.</source>
        <comment>ImageDownloadCauseTransfer</comment>
        <translation>The image could not be fetched.</translation>
    </message>
    <message>
        <source>The download is not an image the editor can read.</source>
        <comment>ImageDownloadCauseDecode</comment>
        <translation>The download is not an image the editor can read.</translation>
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
    <message>
        <source>World</source>
        <comment>Preflight_World</comment>
        <translation>World</translation>
    </message>
    <message>
        <source>No world is chosen.</source>
        <comment>Preflight_NoWorld</comment>
        <translation>No world is chosen.</translation>
    </message>
    <message>
        <source>Pick one of your worlds under My Worlds, or create one with +.</source>
        <comment>Preflight_NoWorldHint</comment>
        <translation>Pick one of your worlds under My Worlds, or create one with +.</translation>
    </message>
    <message>
        <source>This world's folder is not in this project, so it cannot be built here.</source>
        <comment>Preflight_NotEditable</comment>
        <translation>This world's folder is not in this project, so it cannot be built here.</translation>
    </message>
    <message>
        <source>Open the project the world was created in.</source>
        <comment>Preflight_NotEditableHint</comment>
        <translation>Open the project the world was created in.</translation>
    </message>
    <message>
        <source>{0} more</source>
        <comment>Preflight_More</comment>
        <translation>{0} more</translation>
    </message>
    <message>
        <source>{0} more like the one above.</source>
        <comment>Preflight_MoreMessage</comment>
        <translation>{0} more like the one above.</translation>
    </message>
    <message>
        <source>The world still has the default name "{0}".</source>
        <comment>Preflight_DefaultName</comment>
        <translation>The world still has the default name "{0}".</translation>
    </message>
    <message>
        <source>Type the name players will see under Information, Name.</source>
        <comment>Preflight_DefaultNameHint</comment>
        <translation>Type the name players will see under Information, Name.</translation>
    </message>
    <message>
        <source>The world has no description.</source>
        <comment>Preflight_NoDescription</comment>
        <translation>The world has no description.</translation>
    </message>
    <message>
        <source>Tell players what awaits them under Information, Description.</source>
        <comment>Preflight_NoDescriptionHint</comment>
        <translation>Tell players what awaits them under Information, Description.</translation>
    </message>
    <message>
        <source>The world has no title image, so it shows as a blank tile.</source>
        <comment>Preflight_NoTitleImage</comment>
        <translation>The world has no title image, so it shows as a blank tile.</translation>
    </message>
    <message>
        <source>Add a screenshot under Information, Screenshots: the first one becomes the title image.</source>
        <comment>Preflight_NoTitleImageHint</comment>
        <translation>Add a screenshot under Information, Screenshots: the first one becomes the title image.</translation>
    </message>
    <message>
        <source>Entry map</source>
        <comment>Preflight_EntryMap</comment>
        <translation>Entry map</translation>
    </message>
    <message>
        <source>No entry map is chosen: there is nothing to build.</source>
        <comment>Preflight_NoEntryMap</comment>
        <translation>No entry map is chosen: there is nothing to build.</translation>
    </message>
    <message>
        <source>Choose the map players start in under Entry map.</source>
        <comment>Preflight_NoEntryMapHint</comment>
        <translation>Choose the map players start in under Entry map.</translation>
    </message>
    <message>
        <source>The entry map does not exist in this project.</source>
        <comment>Preflight_EntryMapMissing</comment>
        <translation>The entry map does not exist in this project.</translation>
    </message>
    <message>
        <source>Choose an existing map under Entry map, or restore the map's file from source control.</source>
        <comment>Preflight_EntryMapMissingHint</comment>
        <translation>Choose an existing map under Entry map, or restore the map's file from source control.</translation>
    </message>
    <message>
        <source>The entry map is not a map.</source>
        <comment>Preflight_EntryNotMap</comment>
        <translation>The entry map is not a map.</translation>
    </message>
    <message>
        <source>Choose a level under Entry map.</source>
        <comment>Preflight_EntryNotMapHint</comment>
        <translation>Choose a level under Entry map.</translation>
    </message>
    <message>
        <source>The entry map needs {0} packages with {1} of files, itself included.</source>
        <comment>Preflight_Closure</comment>
        <translation>The entry map needs {0} packages with {1} of files, itself included.</translation>
    </message>
    <message>
        <source>Every one of them goes into each pak.</source>
        <comment>Preflight_ClosureHint</comment>
        <translation>Every one of them goes into each pak.</translation>
    </message>
    <message>
        <source>The entry map lies outside the world's folder {0}: the client plays only a map in the world's folder.</source>
        <comment>Preflight_EntryOutside</comment>
        <translation>The entry map lies outside the world's folder {0}: the client plays only a map in the world's folder.</translation>
    </message>
    <message>
        <source>Choose the map again under Entry map and answer yes when asked to move packages: it moves into {0} with what it needs.</source>
        <comment>Preflight_EntryOutsideHint</comment>
        <translation>Choose the map again under Entry map and answer yes when asked to move packages: it moves into {0} with what it needs.</translation>
    </message>
    <message>
        <source>{0} packages the map needs lie outside the world's folder {1}.</source>
        <comment>Preflight_Outside</comment>
        <translation>{0} packages the map needs lie outside the world's folder {1}.</translation>
    </message>
    <message>
        <source>When the map is chosen, the question to move packages moves them into {0}: the folders below whole, with everything else in them.</source>
        <comment>Preflight_OutsideHint</comment>
        <translation>When the map is chosen, the question to move packages moves them into {0}: the folders below whole, with everything else in them.</translation>
    </message>
    <message>
        <source>Moves whole to {0}: {1} packages the map needs, and everything else in the folder.</source>
        <comment>Preflight_FolderMoves</comment>
        <translation>Moves whole to {0}: {1} packages the map needs, and everything else in the folder.</translation>
    </message>
    <message>
        <source>Other maps move with it: {0}{1}.</source>
        <comment>Preflight_FolderOtherMaps</comment>
        <translation>Other maps move with it: {0}{1}.</translation>
    </message>
    <message>
        <source> and {0} more</source>
        <comment>Preflight_AndMore</comment>
        <translation> and {0} more</translation>
    </message>
    <message>
        <source>Other worlds or maps that use this folder will find it in {0}.</source>
        <comment>Preflight_FolderMovesHint</comment>
        <translation>Other worlds or maps that use this folder will find it in {0}.</translation>
    </message>
    <message>
        <source>If those maps belong to another world, move what this map needs into {0} yourself before choosing it.</source>
        <comment>Preflight_FolderOtherMapsHint</comment>
        <translation>If those maps belong to another world, move what this map needs into {0} yourself before choosing it.</translation>
    </message>
    <message>
        <source>Moves to {0} at once: it lies at the top of the content folder.</source>
        <comment>Preflight_RootMoves</comment>
        <translation>Moves to {0} at once: it lies at the top of the content folder.</translation>
    </message>
    <message>
        <source>Nothing to do unless other worlds use it too.</source>
        <comment>Preflight_RootMovesHint</comment>
        <translation>Nothing to do unless other worlds use it too.</translation>
    </message>
    <message>
        <source>Referenced by {0}, but there is no such package: the pak will lack it and the world may not load.</source>
        <comment>Preflight_Missing</comment>
        <translation>Referenced by {0}, but there is no such package: the pak will lack it and the world may not load.</translation>
    </message>
    <message>
        <source>Restore the package, or open {0} and remove or replace the reference.</source>
        <comment>Preflight_MissingHint</comment>
        <translation>Restore the package, or open {0} and remove or replace the reference.</translation>
    </message>
    <message>
        <source>Referenced by {0}, but the engine refuses the name: {1}.</source>
        <comment>Preflight_InvalidReference</comment>
        <translation>Referenced by {0}, but the engine refuses the name: {1}.</translation>
    </message>
    <message>
        <source>Rename the package without \ : * ? " &lt; &gt; | ' , . &amp; ! ~ @ # and fix up the reference.</source>
        <comment>Preflight_InvalidReferenceHint</comment>
        <translation>Rename the package without \ : * ? " &lt; &gt; | ' , . &amp; ! ~ @ # and fix up the reference.</translation>
    </message>
    <message>
        <source>The map uses {0} packages of the plugin {1} (for example {2}, from {3}); the pak does not carry them and the player client does not have them.</source>
        <comment>Preflight_PluginContent</comment>
        <translation>The map uses {0} packages of the plugin {1} (for example {2}, from {3}); the pak does not carry them and the player client does not have them.</translation>
    </message>
    <message>
        <source>Copy what the world needs from /{0} into {1}, and point the references there.</source>
        <comment>Preflight_PluginContentHint</comment>
        <translation>Copy what the world needs from /{0} into {1}, and point the references there.</translation>
    </message>
    <message>
        <source>The map uses {0} engine packages (for example {1}, from {2}); the pak does not carry them.</source>
        <comment>Preflight_EngineContent</comment>
        <translation>The map uses {0} engine packages (for example {1}, from {2}); the pak does not carry them.</translation>
    </message>
    <message>
        <source>The player client brings the engine's own content; nothing to do unless you changed it.</source>
        <comment>Preflight_EngineContentHint</comment>
        <translation>The player client brings the engine's own content; nothing to do unless you changed it.</translation>
    </message>
    <message>
        <source>Windows cannot create a file of this name, so the client cannot be installed with it.</source>
        <comment>Preflight_WindowsName</comment>
        <translation>Windows cannot create a file of this name, so the client cannot be installed with it.</translation>
    </message>
    <message>
        <source>Rename it without &lt; &gt; : " | ? * \, without a trailing dot or blank, and not CON, NUL, COM1 and the like.</source>
        <comment>Preflight_WindowsNameHint</comment>
        <translation>Rename it without &lt; &gt; : " | ? * \, without a trailing dot or blank, and not CON, NUL, COM1 and the like.</translation>
    </message>
    <message>
        <source>Differs from {0} beside it only in letter case: on Windows the two are one, and the pak keeps only one of them.</source>
        <comment>Preflight_CaseClash</comment>
        <translation>Differs from {0} beside it only in letter case: on Windows the two are one, and the pak keeps only one of them.</translation>
    </message>
    <message>
        <source>Rename or remove one of the two.</source>
        <comment>Preflight_CaseClashHint</comment>
        <translation>Rename or remove one of the two.</translation>
    </message>
    <message>
        <source>The engine refuses this file's name ({0}), so the file is left out of the pak.</source>
        <comment>Preflight_RefusedName</comment>
        <translation>The engine refuses this file's name ({0}), so the file is left out of the pak.</translation>
    </message>
    <message>
        <source>Rename it without \ : * ? " &lt; &gt; | ' , . &amp; ! ~ @ # if the world needs it.</source>
        <comment>Preflight_RefusedNameHint</comment>
        <translation>Rename it without \ : * ? " &lt; &gt; | ' , . &amp; ! ~ @ # if the world needs it.</translation>
    </message>
    <message>
        <source>Installed in {0}, the path has {1} characters: Windows opens at most {2}.</source>
        <comment>Preflight_PathTooLong</comment>
        <translation>Installed in {0}, the path has {1} characters: Windows opens at most {2}.</translation>
    </message>
    <message>
        <source>Shorten the folder or file names by {0} characters.</source>
        <comment>Preflight_PathTooLongHint</comment>
        <translation>Shorten the folder or file names by {0} characters.</translation>
    </message>
    <message>
        <source>The {0} pak would be about {1} ({2} in {3} files before compression), over the upload limit of {4}.</source>
        <comment>Preflight_PakOverLimit</comment>
        <translation>The {0} pak would be about {1} ({2} in {3} files before compression), over the upload limit of {4}.</translation>
    </message>
    <message>
        <source>Leave out what the map does not need, or, if your storage takes larger objects, raise [AwsS3] MaxUploadBytes in OrvaSDK.ini.</source>
        <comment>Preflight_PakOverLimitHint</comment>
        <translation>Leave out what the map does not need, or, if your storage takes larger objects, raise [AwsS3] MaxUploadBytes in OrvaSDK.ini.</translation>
    </message>
    <message>
        <source>The {0} pak would be about {1} ({2} in {3} files before compression): within the upload limit of {4} only if it compresses as well as the files sampled.</source>
        <comment>Preflight_PakNearLimit</comment>
        <translation>The {0} pak would be about {1} ({2} in {3} files before compression): within the upload limit of {4} only if it compresses as well as the files sampled.</translation>
    </message>
    <message>
        <source>Leave out what the map does not need to be on the safe side.</source>
        <comment>Preflight_PakNearLimitHint</comment>
        <translation>Leave out what the map does not need to be on the safe side.</translation>
    </message>
    <message>
        <source>The {0} pak will be about {1} ({2} in {3} files before compression), within the upload limit of {4}.</source>
        <comment>Preflight_PakSize</comment>
        <translation>The {0} pak will be about {1} ({2} in {3} files before compression), within the upload limit of {4}.</translation>
    </message>
    <message>
        <source>The entry map needs no other package; its file has {0}.</source>
        <comment>Preflight_ClosureAlone</comment>
        <translation>The entry map needs no other package; its file has {0}.</translation>
    </message>
    <message>
        <source>1 package the map needs lies outside the world's folder {0}.</source>
        <comment>Preflight_OutsideOne</comment>
        <translation>1 package the map needs lies outside the world's folder {0}.</translation>
    </message>
    <message>
        <source>Moves whole to {0}: 1 package the map needs, and everything else in the folder.</source>
        <comment>Preflight_FolderMovesOne</comment>
        <translation>Moves whole to {0}: 1 package the map needs, and everything else in the folder.</translation>
    </message>
    <message>
        <source>The map uses {1}, content of the plugin {0} (from {2}); the pak does not carry it and the player client does not have it.</source>
        <comment>Preflight_PluginContentOne</comment>
        <translation>The map uses {1}, content of the plugin {0} (from {2}); the pak does not carry it and the player client does not have it.</translation>
    </message>
    <message>
        <source>The map uses the engine package {0} (from {1}); the pak does not carry it.</source>
        <comment>Preflight_EngineContentOne</comment>
        <translation>The map uses the engine package {0} (from {1}); the pak does not carry it.</translation>
    </message>
</context>
<context>
    <name>SOrvaPreflightReportView</name>
    <message>
        <source>Error</source>
        <comment>LevelError</comment>
        <translation>Error</translation>
    </message>
    <message>
        <source>Warning</source>
        <comment>LevelWarning</comment>
        <translation>Warning</translation>
    </message>
    <message>
        <source>Note</source>
        <comment>LevelNote</comment>
        <translation>Note</translation>
    </message>
    <message>
        <source>1 error</source>
        <comment>OneError</comment>
        <translation>1 error</translation>
    </message>
    <message>
        <source>{0} errors</source>
        <comment>Errors</comment>
        <translation>{0} errors</translation>
    </message>
    <message>
        <source>1 warning</source>
        <comment>OneWarning</comment>
        <translation>1 warning</translation>
    </message>
    <message>
        <source>{0} warnings</source>
        <comment>Warnings</comment>
        <translation>{0} warnings</translation>
    </message>
    <message>
        <source>1 note</source>
        <comment>OneNote</comment>
        <translation>1 note</translation>
    </message>
    <message>
        <source>{0} notes</source>
        <comment>Notes</comment>
        <translation>{0} notes</translation>
    </message>
    <message>
        <source>Hide the report</source>
        <comment>Close_Tooltip</comment>
        <translation>Hide the report</translation>
    </message>
    <message>
        <source>{0} and {1}: the world cannot be built until the errors are fixed.</source>
        <comment>HeadlineErrors</comment>
        <translation>{0} and {1}: the world cannot be built until the errors are fixed.</translation>
    </message>
    <message>
        <source>Ready to build, with {0} worth a look.</source>
        <comment>HeadlineWarnings</comment>
        <translation>Ready to build, with {0} worth a look.</translation>
    </message>
    <message>
        <source>Ready to build: nothing to fix.</source>
        <comment>HeadlineReady</comment>
        <translation>Ready to build: nothing to fix.</translation>
    </message>
    <message>
        <source>{0} packages, {1}</source>
        <comment>FiguresPackages</comment>
        <translation>{0} packages, {1}</translation>
    </message>
    <message>
        <source>{0} pak about {1}</source>
        <comment>FiguresPak</comment>
        <translation>{0} pak about {1}</translation>
    </message>
    <message>
        <source>upload limit {0}</source>
        <comment>FiguresLimit</comment>
        <translation>upload limit {0}</translation>
    </message>
    <message>
        <source>{0}, {1}, {2}</source>
        <comment>FiguresCounts</comment>
        <translation>{0}, {1}, {2}</translation>
    </message>
</context>
</TS>
