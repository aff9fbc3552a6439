// links.js URL ROUNDS: times GetHREFs on the page at URL (fetched once).
// Prints "RESULT links kestrel seconds anchors".
var a = WScript.Arguments;
var url = a(0), rounds = parseInt(a(1), 10);
var c = new ActiveXObject("Kestrel.Conn");
c.URL = url;
c.TimeOut = 60;
c.GetURL();
if (c.Error != "") WScript.Echo("error " + c.Error);
var links = null;
for (var round = 0; round < rounds; round++) {
  // The previous round's arrays belong to the script: freed before timing.
  links = null;
  CollectGarbage();
  var t0 = new Date().getTime();
  links = c.GetHREFs();
  var secs = (new Date().getTime() - t0) / 1000;
  var n = new VBArray(links).ubound(1) + 1;
  WScript.Echo("RESULT links kestrel " + secs + " " + n);
}
WScript.Echo("DONE");
