// Removes the VE Zederar plug-in (QV_Printer7.fmx) from this machine, whichever build of it is
// installed: every build has a product code of its own, but all share the upgrade code, by
// which Windows Installer lists them. Each one found is removed with msiexec /x, silently and
// without restarting the machine, with a log in %TEMP%\QV_Printer7-uninstall.log.
//   cscript //nologo uninstall.js
// Exit status: 0 removed, or nothing was installed; 3010 removed, restart needed; otherwise
// the status of the msiexec that failed (the log says why).
var UPGRADE_CODE = "{5C0D7A64-2F3B-4E8A-9B61-7D2E4F80A913}";

var installer = WScript.CreateObject("WindowsInstaller.Installer");
var shell = WScript.CreateObject("WScript.Shell");
var log = shell.ExpandEnvironmentStrings("%TEMP%\\QV_Printer7-uninstall.log");
var products = installer.RelatedProducts(UPGRADE_CODE);
var status = 0;
if (products.Count == 0) WScript.Echo("No build of QV_Printer7.fmx is installed.");
for (var i = 0; i < products.Count; i++) {
    var product = products.Item(i);
    // Window style 0: hidden; true: wait for msiexec to finish and take its status.
    var done = shell.Run("msiexec /x " + product + " /qn /norestart /l*v+ \"" + log + "\"", 0,
                         true);
    WScript.Echo("msiexec /x " + product + ": exit status " + done);
    // 1641: a restart was started all the same; either way the plug-in is gone at the restart.
    if (done == 3010 || done == 1641) {
        if (status == 0) status = 3010;
    } else if (done != 0) {
        status = done;
    }
}
WScript.Quit(status);
