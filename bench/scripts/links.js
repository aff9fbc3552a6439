// links.js URL ROUNDS [CHARSETS]: times GetHREFs on the page at URL (fetched
// once). CHARSETS (comma-separated values of Charset, default "" alone) are
// timed in turn each round, "" as engine "kestrel", others as
// "kestrel-VALUE". Prints "RESULT links ENGINE seconds anchors".
var a = WScript.Arguments;
var url = a(0), rounds = parseInt(a(1), 10);
var charsets = (a.length > 2 ? a(2) : "").split(",");
var c = new ActiveXObject("Kestrel.Conn");
c.URL = url;
c.TimeOut = 60;
c.GetURL();
if (c.Error != "") WScript.Echo("error " + c.Error);
var links = null;
for (var round = 0; round < rounds; round++) {
  for (var k = 0; k < charsets.length; k++) {
    // The links are read in the charset the mode says, from the same body.
    c.Charset = charsets[k];
    // The previous round's arrays belong to the script: freed before timing.
    links = null;
    CollectGarbage();
    var t0 = new Date().getTime();
    links = c.GetHREFs();
    var secs = (new Date().getTime() - t0) / 1000;
    var n = new VBArray(links).ubound(1) + 1;
    WScript.Echo("RESULT links " + (charsets[k] == "" ? "kestrel" : "kestrel-" + charsets[k]) + " " + secs + " " + n);
  }
}
WScript.Echo("DONE");
