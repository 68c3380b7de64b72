' A surface's colours and font settings as a script sees them.
'  - ForeColor and BackColor keep the value given, a system colour (&H800000xx) included; it is
'    translated each time it is used.
'  - TransparentColor is translated when it is set: a system colour reads back as its RGB value then.
'  - The font settings are stored as given; FontSize is a height in pixels, and only True (-1) is
'    bold. A script's values reach FontBold as Booleans, so any non-zero value is True here.
Option Explicit
Dim failures : failures = 0
Sub Check(condition, what)
    If Not condition Then
        WScript.Echo "FAIL: " & what
        failures = failures + 1
    End If
End Sub

Const BUTTON_FACE = &H8000000F                 ' system colour 15
Dim ctl, s, faceRgb
Set ctl = CreateObject("Kiv.KivCtl")
Set s = ctl.Bitmaps.Create("s", 40, 20)

' A new surface: black on the button-face colour, black as the key, 8-pixel "MS Sans Serif".
Check s.ForeColor = 0, "ForeColor starts black"
Check s.BackColor = BUTTON_FACE, "BackColor starts as the button-face system colour"
Check s.TransparentColor = 0, "the key colour starts black"
Check s.FontName = "MS Sans Serif" And s.FontSize = 8, "the default font"
Check Not s.FontBold And Not s.FontItalic And Not s.FontUnderline, "no font style at first"

s.ForeColor = BUTTON_FACE
Check s.ForeColor = BUTTON_FACE, "ForeColor keeps a system colour as given"
s.TransparentColor = BUTTON_FACE
faceRgb = s.TransparentColor
Check faceRgb <> BUTTON_FACE And faceRgb >= 0 And faceRgb <= &HFFFFFF, _
      "TransparentColor holds the RGB value of the system colour"
s.TransparentColor = RGB(255, 0, 255)
Check s.TransparentColor = RGB(255, 0, 255), "an RGB key colour reads back unchanged"
s.TransparentColor = &H800000FF                ' no such system colour
Check s.TransparentColor = -1, "an untranslatable key colour reads back as -1"

s.FontName = "Courier New"
s.FontSize = 20                                ' 20 pixels high, whatever the screen's resolution
s.FontBold = True
s.FontItalic = True
Check s.FontName = "Courier New" And s.FontSize = 20, "font name and size as set"
Check s.FontBold And s.FontItalic And Not s.FontUnderline, "font styles as set"
s.FontBold = 1                                 ' arrives as True: the call makes any non-zero a Boolean
Check s.FontBold = True, "a script's 1 is True (-1), which is bold"
s.BPrint 0, 0, "Kiv"                           ' draws with the settings of this moment

If failures = 0 Then WScript.Echo "PASS"
