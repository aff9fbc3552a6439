// Kestrel.Conn's cookies from JScript: the login through a redirect, and the
// store saved and restored in a new object. Refusal texts are checked from
// VBScript: JScript under Wine loses a failed put's text.
eval(new ActiveXObject("Scripting.FileSystemObject").OpenTextFile("lib/check.js").ReadAll());

var env = new ActiveXObject("WScript.Shell").Environment("PROCESS");
var scenarioBase = "http://127.0.0.1:" + env("KESTREL_SCENARIO_PORT") + "/";
var welcome = "Welcome, member.\r\n";

function newConn(keep) {
  var c = new ActiveXObject("Kestrel.Conn");
  c.TimeOut = 20;
  c.KeepCookies = keep;
  return c;
}

var conn = newConn(true);
checkEqual("KeepCookies reads true", conn.KeepCookies, true);
conn.URL = scenarioBase + "s/cookie-login";
conn.RequestMethod = "POST";
conn.PostData = "user=kestrel&password=s3cret";
checkEqual("login lands on the members' page", conn.GetURL(), welcome);
var saved = conn.Cookies;
checkEqual("the session cookie in the store", saved,
           "# Netscape HTTP Cookie File\r\n#HttpOnly_127.0.0.1\tFALSE\t/\tFALSE\t0\tsession\tk3str3l-42\r\n");

var restored = newConn(true);
restored.Cookies = saved;
restored.URL = scenarioBase + "s/cookie-members";
checkEqual("restored login", restored.GetURL(), welcome);

var refused = false;
try {
  restored.Cookies = "127.0.0.1\tFALSE\t/\tFALSE\t0\ta\t1\r\nX-Injected: 1";
} catch (e) {
  refused = true;
}
check("a line break in a value is refused", refused, "no exception");
checkEqual("the refused put leaves the store", restored.Cookies, saved);

var off = newConn(false);
off.URL = scenarioBase + "s/cookie-login";
off.RequestMethod = "POST";
off.GetURL();
checkEqual("without KeepCookies the login is refused", off.Response, "HTTP/1.0 403 Forbidden");
checkEqual("without KeepCookies nothing is stored", off.Cookies, "");

conn = null;
restored = null;
off = null;
WScript.Echo("DONE");
