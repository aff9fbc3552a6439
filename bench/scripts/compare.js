// compare.js MODE URL ROUNDS COUNT [SAVEPATH] [PEERS] [OPTIONS]
// Times Kestrel and the platform's own HTTP objects on the same URL, in
// alternating rounds (K W X K W X ...). Prints "RESULT mode engine seconds chars".
//   MODE text   : COUNT fetches of URL as text
//   MODE bytes  : COUNT fetches of URL as a byte array
//   MODE save   : COUNT fetches of URL saved to SAVEPATH (Kestrel only)
// With COUNT > 1 WinHttpRequest is also timed with "Connection: close", a new
// connection per request as Kestrel's HTTP/1.0 exchanges make (engine
// "winhttp-close"): the same network work, so the comparison of code alone.
// PEERS (comma-separated: winhttp, serverxmlhttp; "none") limits the peers timed.
// OPTIONS (keep, gzip, auto, or several of them joined by ",") times a second
// Kestrel object beside the plain one, with KeepAlive, Compression on and
// Charset "auto" as named (engine "kestrel-keep", "kestrel-gzip",
// "kestrel-auto", "kestrel-keep,gzip").
var a = WScript.Arguments;
var mode = a(0), url = a(1), rounds = parseInt(a(2), 10), count = parseInt(a(3), 10);
var savePath = a.length > 4 && a(4) != "-" ? a(4) : "";  // "-": none
var peers = "," + (a.length > 5 ? a(5) : "winhttp,serverxmlhttp") + ",";
var options = a.length > 6 ? a(6) : "";
function wanted(peer) { return peers.indexOf("," + peer + ",") >= 0; }

function now() { return new Date().getTime(); }

var kestrel = new ActiveXObject("Kestrel.Conn");
kestrel.TimeOut = 60;
var tuned = new ActiveXObject("Kestrel.Conn");
tuned.TimeOut = 60;
tuned.KeepAlive = options.indexOf("keep") >= 0;
tuned.Compression = options.indexOf("gzip") >= 0;
tuned.Charset = options.indexOf("auto") >= 0 ? "auto" : "";
var winhttp = new ActiveXObject("WinHttp.WinHttpRequest.5.1");
var xmlhttp = new ActiveXObject("MSXML2.ServerXMLHTTP.6.0");

function runKestrel(kestrel) {
  var n = 0;
  for (var i = 0; i < count; i++) {
    kestrel.URL = url;
    if (mode == "save") {
      kestrel.SaveFileTo = savePath;
      kestrel.GetURL();
    } else if (mode == "bytes") {
      kestrel.GetURL();
      var b = kestrel.BinaryData;
      n = 1;
    } else {
      n = kestrel.GetURL().length;
    }
    if (kestrel.Error != "" && n == 0 && mode == "text") throw new Error("Kestrel: " + kestrel.Error);
  }
  return n;
}

function runPeer(r, close) {
  var n = 0;
  for (var i = 0; i < count; i++) {
    r.open("GET", url, false);
    if (close) r.setRequestHeader("Connection", "close");
    r.send();
    if (mode == "bytes") { var b = r.responseBody; n = 1; }
    else n = r.responseText.length;
  }
  return n;
}

var engines = [["kestrel", function () { return runKestrel(kestrel); }]];
if (options != "") engines.push(["kestrel-" + options, function () { return runKestrel(tuned); }]);
if (mode != "save") {
  if (wanted("winhttp")) engines.push(["winhttp", function () { return runPeer(winhttp); }]);
  if (wanted("serverxmlhttp")) engines.push(["serverxmlhttp", function () { return runPeer(xmlhttp); }]);
  if (count > 1 && wanted("winhttp")) engines.push(["winhttp-close", function () { return runPeer(winhttp, true); }]);
}
for (var round = 0; round < rounds; round++) {
  for (var e = 0; e < engines.length; e++) {
    var t0 = now();
    var chars = engines[e][1]();
    var secs = (now() - t0) / 1000;
    WScript.Echo("RESULT " + mode + " " + engines[e][0] + " " + secs + " " + chars);
  }
}
WScript.Echo("DONE");
