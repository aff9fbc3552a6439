// Kestrel.Conn from JScript: the property store, and requests against the
// scenario server on 127.0.0.1 with the response members. Error texts of
// refused writes are checked from VBScript: JScript under Wine loses them.
eval(new ActiveXObject("Scripting.FileSystemObject").OpenTextFile("lib/check.js").ReadAll());

var env = new ActiveXObject("WScript.Shell").Environment("PROCESS");
var scenarioBase = "http://127.0.0.1:" + env("KESTREL_SCENARIO_PORT") + "/";
var helloBody = "Hello from the scenario server.\r\n";

var conn = new ActiveXObject("Kestrel.Conn");

// --- a new object and its store ---------------------------------------------
checkEqual("default Port", conn.Port, 80);
checkEqual("default TimeOut", conn.TimeOut, 60);
checkEqual("default FollowRedirects", conn.FollowRedirects, true);
checkEqual("default RequestMethod", conn.RequestMethod, "GET");
checkEqual("default Accept", conn.Accept, "*/*");
checkEqual("default ContentType", conn.ContentType, "application/x-www-form-urlencoded");
checkEqual("default URL", conn.URL, "");
checkEqual("default Error", conn.Error, "");
checkEqual("default Response", conn.Response, "");
checkEqual("default GetHREFNames", conn.GetHREFNames, undefined);

conn.Port = 65616;
checkEqual("Port keeps the low 16 bits", conn.Port, 80);
conn.Port = -1;
checkEqual("Port -1 reads 65535", conn.Port, 65535);
conn.Port = 80;
conn.FollowRedirects = false;
checkEqual("FollowRedirects false", conn.FollowRedirects, false);
conn.FollowRedirects = true;
conn.ContentType = "Text/Plain";
checkEqual("ContentType is lower-cased", conn.ContentType, "text/plain");
conn.ContentType = "application/x-www-form-urlencoded";
conn.AddExtraHeader("X-A: 1");
conn.AddExtraHeader("");
conn.AddExtraHeader("X-A: 1");
checkEqual("ExtraHeaders", conn.ExtraHeaders, "X-A: 1\r\nX-A: 1\r\n");
conn.ClearExtraHeaders();
checkEqual("ClearExtraHeaders", conn.ExtraHeaders, "");
conn.PostData = "a\u0000b";
checkEqual("PostData keeps a NUL", conn.PostData, "a\u0000b");
conn.PostData = "";

var refused = null;
conn.Proxy = "proxy.local:8080";
try {
  conn.Proxy = "proxy.local";
} catch (e) {
  refused = e;
}
check("Proxy without a port is refused", refused !== null, "no exception");
if (refused !== null) checkEqual("refused Proxy number", refused.number, -2147418113);
checkEqual("refused Proxy keeps the old value", conn.Proxy, "proxy.local:8080");
conn.Proxy = "";
refused = null;
try {
  conn.URL = "ftp://127.0.0.1/";
} catch (e) {
  refused = e;
}
check("other scheme is refused", refused !== null, "no exception");
checkEqual("refused URL keeps the old value", conn.URL, "");

// --- requests -------------------------------------------------------------
conn.TimeOut = 20;
conn.URL = scenarioBase + "s/hello";
checkEqual("body", conn.GetURL(), helloBody);
checkEqual("Response", conn.Response, "HTTP/1.0 200 OK");
checkEqual("GetHeader in lower case", conn.GetHeader("content-length"), "33");
checkEqual("Headers", conn.Headers, "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 33\r\n\r\n");

conn.URL = scenarioBase + "s/http-not-found";
checkEqual("404 body", conn.GetURL(), "<html><body>No such page.</body></html>");
checkEqual("404 Response", conn.Response, "HTTP/1.0 404 Not Found");
checkEqual("404 leaves Error", conn.Error, "");

conn.URL = "http://127.0.0.1:1/";
checkEqual("refused connection gives no body", conn.GetURL(), "");
checkEqual("refused connection in Error", conn.Error, "[10061] Connection refused");
conn.URL = scenarioBase + "s/hello";
checkEqual("success after a failure", conn.GetURL(), helloBody);
checkEqual("success keeps the earlier Error", conn.Error, "[10061] Connection refused");

conn.URL = scenarioBase + "s/conn-bytes";
var bytes = conn.GetURL();
checkEqual("three bytes give three characters", bytes.length, 3);
checkEqual("the bytes' codes", bytes.charCodeAt(0) + "," + bytes.charCodeAt(1) + "," + bytes.charCodeAt(2), "0,255,10");

conn.URL = scenarioBase + "s/conn-header-forms";
conn.GetURL();
checkEqual("GetHeader with its colon", conn.GetHeader("Content-Type:"), "text/html");
checkEqual("GetHeader of the empty name", conn.GetHeader(""), "HTTP/1.0 200 OK");
checkEqual("GetHeader after two blanks", conn.GetHeader("X-Two-Blanks"), " two blanks ");

// HEAD after GET returns the earlier body.
conn.URL = scenarioBase + "s/hello";
conn.GetURL();
conn.RequestMethod = "HEAD";
conn.URL = scenarioBase + "s/http-head";
checkEqual("HEAD returns the earlier body", conn.GetURL(), helloBody);
conn.RequestMethod = "GET";

// POST of form data, echoed.
var post = new ActiveXObject("Kestrel.Conn");
post.URL = scenarioBase + "echo/form";
post.RequestMethod = "post";
var form = "q=" + post.URLEncode("a b&c");
checkEqual("form encoded", form, "q=a+b%26c");
post.PostData = form;
var echoed = post.GetURL();
checkEqual("POST request line", echoed.split("\r\n")[0], "POST /echo/form HTTP/1.0");
check("POST content type sent", echoed.indexOf("\r\nContent-Type: application/x-www-form-urlencoded\r\n") > 0, echoed);
check("POST length sent", echoed.indexOf("\r\nContent-Length: " + form.length + "\r\n") > 0, echoed);
checkEqual("POST body last", echoed.substr(echoed.length - form.length - 4), "\r\n\r\n" + form);
post = null;

// Reading a method as a property runs nothing: the scenario server's log
// shows no request for the probe's target until GetURL is called.
var scenarioLog = "Z:" + env("SERVERS_RUN").replace(/\//g, "\\") + "\\scenario.log";
function requestsFor(target) {
  var text = new ActiveXObject("Scripting.FileSystemObject").OpenTextFile(scenarioLog).ReadAll();
  return text.split("GET /" + target + " HTTP/1.0").length - 1;
}
var probe = new ActiveXObject("Kestrel.Conn");
var target = "echo/read-as-property-" + new Date().getTime();
probe.URL = scenarioBase + target;
var kinds = typeof probe.GetURL + " " + typeof probe.GetHREFs;
check("typeof of the methods", kinds === "unknown unknown" || kinds === "undefined undefined", kinds);
var tested = "not run";
try {
  tested = probe.GetURL ? "true" : "false";
} catch (e) {
  tested = "refused";
}
check("a method tested as a value runs nothing", tested !== "true", tested);
checkEqual("no request from reading the methods", requestsFor(target), 0);
checkEqual("no response from reading the methods", probe.Response, "");
probe.GetURL();
checkEqual("one request from calling GetURL", requestsFor(target), 1);
probe = null;

conn = null;
WScript.Echo("DONE");
