// Velmora boot script: a thin launcher that hands the page to the portal's start script.
// Written for the TV's old web runtime: ES5 only.

// Page-wide on purpose: the portal's script reads both.
var ppath = "";
var filename = "tizen_start.php";

window.onload = function () {
    // The whole location, fragment included: everything after the first "?" to the very end,
    // split at "&". A piece's value is what lies between its first and second "="; a later
    // piece wins; nothing is decoded or trimmed. A piece without "=" has no value, so a bare
    // "pt" counts as absent.
    var here = String(window.location.href);
    var params = {};
    var q = here.indexOf("?");
    if (q >= 0) {
        var pieces = here.substring(q + 1).split("&");
        for (var i = 0; i < pieces.length; i++) {
            var kv = pieces[i].split("=");
            params[kv[0]] = kv[1];
        }
    }

    if (Object.prototype.hasOwnProperty.call(params, "pt") && params.pt !== undefined) {
        ppath = params.pt;

        // The loading box; the portal's script finds it by id "lp".
        var box = document.createElement("div");
        box.id = "lp";
        box.className = "loading_bar_tizen";
        var img = document.createElement("img");
        img.setAttribute("src", ppath + "images/loading-gif-animation.gif");
        img.className = "loading_img";
        box.appendChild(img);
        var bodyEl = document.getElementById("body_el");
        while (bodyEl.firstChild) {
            bodyEl.removeChild(bodyEl.firstChild);
        }
        bodyEl.appendChild(box);

        // Fire and forget: nothing waits for the portal or watches whether it answers.
        var script = document.createElement("script");
        script.type = "text/javascript";
        script.setAttribute("src", ppath + filename);
        document.getElementsByTagName("head")[0].appendChild(script);
    } else {
        // Come back once with the portal's address; the relative URL stays next to this page.
        window.location = "index.html?pt=" + decodeURIComponent("@PORTAL_URL@");
    }
};
