// The links of fetched pages from JScript: GetHREFs and GetHREFNames read
// through VBArray, against the scenario server and nginx on 127.0.0.1.
eval(new ActiveXObject("Scripting.FileSystemObject").OpenTextFile("lib/check.js").ReadAll());

// An array of texts from the object as one line, "|" between the elements.
function joined(items) {
  return new VBArray(items).toArray().join("|");
}

function upperBound(items) {
  return new VBArray(items).ubound(1);
}

var env = new ActiveXObject("WScript.Shell").Environment("PROCESS");
var scenarioBase = "http://127.0.0.1:" + env("KESTREL_SCENARIO_PORT") + "/";
var nginxBase = "http://127.0.0.1:" + env("KESTREL_NGINX_PORT") + "/";

var conn = new ActiveXObject("Kestrel.Conn");
conn.TimeOut = 20;
checkEqual("no texts kept before any call", conn.GetHREFNames, undefined);

var fresh = new ActiveXObject("Kestrel.Conn");
checkEqual("no links before any request", upperBound(fresh.GetHREFs()), -1);
checkEqual("no texts before any request", upperBound(fresh.GetHREFNames), -1);
fresh = null;

conn.URL = scenarioBase + "s/conn-links.html";
conn.GetURL();
var targets = "x.html|y.html|'single.html'|q?a=1&amp;b=2|nbsp|bold|img|1|x.html|last";
var texts = "Home|Upper case|Single|Tom&Jerry|Hello World|HelloWorld|Not Available|onetwo|Home|Last";
checkEqual("targets", joined(conn.GetHREFs()), targets);
checkEqual("texts", joined(conn.GetHREFNames), texts);
checkEqual("targets again", joined(conn.GetHREFs()), targets);
checkEqual("texts again", joined(conn.GetHREFNames), texts);
conn.URL = scenarioBase + "s/hello";
conn.GetURL();
checkEqual("texts after a later request", joined(conn.GetHREFNames), texts);
checkEqual("no links on a page without anchors", upperBound(conn.GetHREFs()), -1);

conn.URL = nginxBase + "conn-many-links.html";
conn.GetURL();
checkEqual("25 links from nginx", upperBound(conn.GetHREFs()), 24);
var names = new VBArray(conn.GetHREFNames).toArray();
checkEqual("the 25th text", names[24], "Page 25");

conn = null;
WScript.Echo("DONE");
