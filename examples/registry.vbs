' The registry (ctl.Bitmaps): surfaces listed by position from 1, found by name. Names are tags,
' not keys: they may repeat, ItemTxt finds the first, and they are case-sensitive. Nothing here
' raises an error: what is not there is Nothing.
Option Explicit
Dim failures : failures = 0
Sub Check(condition, what)
    If Not condition Then
        WScript.Echo "FAIL: " & what
        failures = failures + 1
    End If
End Sub

Dim ctl, bitmaps, a, b, c, again, huge
Set ctl = CreateObject("Kiv.KivCtl")
Set bitmaps = ctl.Bitmaps
Check bitmaps.Count = 0, "a new control's registry is empty"
Check bitmaps.ItemInt(1) Is Nothing, "ItemInt past the end gives Nothing"

Set a = bitmaps.Create("tile", 16, 16)
Set b = bitmaps.Create("tile", 32, 32)          ' the same name again: allowed
Set c = bitmaps.Create("Tile", 48, 48)
Check bitmaps.Count = 3, "three surfaces listed"
Check bitmaps.ItemInt(2) Is b, "ItemInt: positions start at 1, in the order of creation"
Check bitmaps.ItemTxt("tile") Is a, "ItemTxt gives the first surface of that name"
Check bitmaps.ItemTxt("Tile") Is c, "names are case-sensitive"
Check bitmaps.ItemTxt("TILE") Is Nothing, "an unknown name gives Nothing"
Check bitmaps.ItemInt(0) Is Nothing And bitmaps.ItemInt(4) Is Nothing, "positions outside 1 to Count give Nothing"

' Removing closes the gap; the removed surface still works for whoever holds it.
bitmaps.RemoveInt 1
Check bitmaps.Count = 2, "RemoveInt removed one"
Check bitmaps.ItemTxt("tile") Is b, "now the second tile is the first of its name"
a.DrawBox 0, 0, 4, 4, RGB(255, 0, 0)
Check a.Width = 16, "a removed surface that is still held stays usable"
bitmaps.RemoveInt 7                             ' no such position: nothing happens

' Create gives Nothing when the platform cannot make the bitmap (here 32767 x 32767, 4 GB).
Set huge = bitmaps.Create("huge", 32767, 32767)
Check huge Is Nothing, "Create gives Nothing for a size that cannot be had"
Check bitmaps.Count = 2, "a failed Create lists nothing"

bitmaps.Clear
Check bitmaps.Count = 0, "Clear empties the list"
Check b.Height = 32, "surfaces held by the script outlive Clear"
Set again = bitmaps.Create("tile", 8, 8)
Check bitmaps.ItemInt(1) Is again, "after Clear, positions start at 1 again"

' Each control has a registry of its own. When a control goes, its list is emptied; the surfaces that
' the script still holds keep working.
Dim other, otherList, kept
Set other = CreateObject("Kiv.KivCtl")
Set otherList = other.Bitmaps
Set kept = otherList.Create("kept", 10, 10)
Check bitmaps.ItemTxt("kept") Is Nothing, "another control's surfaces are not in this list"
Set other = Nothing
Check otherList.Count = 0, "the list of a control that has gone is empty"
kept.DrawBox 0, 0, 10, 10, RGB(0, 0, 255)
Check kept.Width = 10, "a held surface outlives its control"

If failures = 0 Then WScript.Echo "PASS"
