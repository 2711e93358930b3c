#include "protection/AccessScript.h"

namespace kestrix {

std::string BuildAccessScript(const ProtectionSettings& s)
{
    std::string f;
    if (s.DisableRightClicking) {
        f += "document.oncontextmenu=False;";
        f += "if(IsNS()){document.captureEvents(Event.MOUSEDOWN);document.onmousedown=function(e)"
             "{if(e.which==2||e.which==3)return false}};";
    }
    if (s.DisableSelection) {
        f += "document.onselectstart=False;";
        f += "function nstns(){st=document.getSelection();if(st!=\"\"&&st!=\" \")document.location="
             "document.location;setTimeout(\"nstns()\",10)};";
        f += "if(IsNS()){nstns()};";
    }
    if (s.DisableDragAndDrop)
        f += "document.ondragstart=False;";
    if (s.DisableStatusBar)
        f += "function dsb(){window.status=\"\";setTimeout(\"dsb()\",5)}dsb();";
    if (s.HideScriptErrors)
        f += "window.onerror=True;";
    if (s.BreakOutOfFrames)
        f += "if(top.location!=location){top.location.href=document.location.href};";
    if (s.DisablePrinting)
        f += "window.onbeforeprint=function(){for(i=document.all.length;i--;)document.all[i].style."
             "visibility=\"hidden\"};window.onafterprint=function(){setTimeout(\"window.location."
             "reload()\",500)};";
    if (s.DisableOfflineViewing)
        f += "if(window.location.href.indexOf(\"file://\")==0)window.location=\"about:Access_"
             "Denied\";";
    if (f.empty())
        return {};
    std::string script = "<script language=\"JavaScript\">";
    script += "function False(){return false};function True(){return true};function IsNS(){return "
              "navigator.appName==\"Netscape\"};";
    script += f;
    script += "</script>";
    return script;
}

} // namespace kestrix
