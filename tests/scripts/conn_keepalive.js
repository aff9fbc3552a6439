// KeepAlive and Compression from JScript: an API called in a loop on one
// kept connection, with gzip bodies decoded.
eval(new ActiveXObject("Scripting.FileSystemObject").OpenTextFile("lib/check.js").ReadAll());

var env = new ActiveXObject("WScript.Shell").Environment("PROCESS");
var scenarioBase = "http://127.0.0.1:" + env("KESTREL_SCENARIO_PORT") + "/s/";
var text = "";
for (var i = 0; i < 200; i++) text += "The quick kestrel hovers over the field.\r\n";

var conn = new ActiveXObject("Kestrel.Conn");
conn.TimeOut = 20;
checkEqual("KeepAlive off by default", conn.KeepAlive, false);
checkEqual("Compression off by default", conn.Compression, false);
conn.KeepAlive = true;
conn.Compression = true;
conn.URL = scenarioBase + "gzip-chunked";
var first = "";
for (var n = 1; n <= 5; n++) {
  var body = conn.GetURL();
  checkEqual("request " + n + " decoded", body === text, true);
  var seen = conn.GetHeader("X-Conn");
  if (n === 1) first = seen.substr(1, 8);
  checkEqual("request " + n + " on one connection", seen, "C" + first + " R0000000" + n);
}
checkEqual("no error", conn.Error, "");
conn.KeepAlive = false;
checkEqual("KeepAlive reads back off", conn.KeepAlive, false);
WScript.Echo("DONE " + failures + " failures");
