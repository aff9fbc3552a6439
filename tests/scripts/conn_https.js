// Kestrel.Conn over https from JScript: a page, its links, a refused
// certificate and a redirect from http, against nginx on 127.0.0.1 with a
// certificate of the private test CA (trusted for this run only).
eval(new ActiveXObject("Scripting.FileSystemObject").OpenTextFile("lib/check.js").ReadAll());

var env = new ActiveXObject("WScript.Shell").Environment("PROCESS");
var site = "https://localhost:" + env("KESTREL_TLS_PORT") + "/";

var conn = new ActiveXObject("Kestrel.Conn");
conn.TimeOut = 20;
conn.URL = site;
var body = conn.GetURL();
checkEqual("no error", conn.Error, "");
check("page body", body.indexOf("<title>Kestrel test site</title>") >= 0, body.substr(0, 80));
checkEqual("Response", conn.Response, "HTTP/1.1 200 OK");
var links = new VBArray(conn.GetHREFs()).toArray();
checkEqual("links", links.join(" "), "/big.bin private/secret.txt http://127.0.0.1/elsewhere.html");

var refused = new ActiveXObject("Kestrel.Conn");
refused.TimeOut = 20;
refused.URL = "https://localhost:" + env("KESTREL_TLS_UNTRUSTED_PORT") + "/";
checkEqual("unknown issuer: no body", refused.GetURL(), "");
checkEqual("unknown issuer: Error", refused.Error, "Certificate error: the issuer is not trusted");

conn.URL = "http://localhost:" + env("KESTREL_NGINX_PORT") + "/to-https.html";
body = conn.GetURL();
checkEqual("redirect to https", conn.URL, site + "index.html");
check("redirected body", body.indexOf("Kestrel test site") >= 0, body.substr(0, 80));

WScript.Echo("DONE");
