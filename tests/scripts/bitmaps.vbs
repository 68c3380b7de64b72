' A script client: the control by ProgID, its registry and a surface, called by name.
Option Explicit
Dim failures : failures = 0
Sub Check(condition, what)
    If Not condition Then
        WScript.Echo "FAIL: " & what
        failures = failures + 1
    End If
End Sub

Dim ctl, bmps, bmp, w, h, n
Set ctl = CreateObject("Kiv.KivCtl")
Set bmps = ctl.Bitmaps
Check Not bmps Is Nothing, "Bitmaps gives the registry"
Check bmps.Count = 0, "a new registry is empty"

Set bmp = bmps.Create("first", 16, 8)
Check Not bmp Is Nothing, "Create with literals"
Check bmp.Width = 16 And bmp.Height = 8, "size of the surface"
w = 20 : h = 10 : n = "second"
Set bmp = bmps.Create(n, w, h)
Check Not bmp Is Nothing, "Create with script variables"
Check bmps.Count = 2, "two surfaces listed"
Check bmps.ItemTxt("second").Width = 20, "ItemTxt finds by name"
Check bmps.ItemInt(1).Height = 8, "ItemInt finds by position"
Check bmps.ItemInt(3) Is Nothing, "ItemInt past the end gives Nothing"

If failures = 0 Then WScript.Echo "PASS"
