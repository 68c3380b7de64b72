' The demo's scene, drawn by a script through the registered module: a night street drawn on a
' background surface, with sprites copied over it where they are not their key colour.
'
'     cscript //nologo scene.vbs
'
' A script can draw and copy, but it cannot save a picture to a file (a picture object offers no
' Save to a script). So the C++ demo, kiv_demo, runs this same script inside itself, as Office runs
' a macro, takes the surface in the script's variable `scene`, and writes its picture to
' demo/out/scene-vbs.png, next to the scene.png that it drew with its own calls.
Option Explicit

Const W = 480, H = 320
Dim failures : failures = 0
Sub Check(condition, what)
    If Not condition Then
        WScript.Echo "FAIL: " & what
        failures = failures + 1
    End If
End Sub
Sub Progress(text)
    WScript.Echo "  " & text
End Sub

Dim sky, grass, road, white, lit
sky = RGB(24, 32, 72) : grass = RGB(40, 80, 44) : road = RGB(72, 72, 80)
white = RGB(255, 255, 255) : lit = RGB(250, 214, 90)

Dim ctl, bitmaps, scene, car, firefly, sign, pic
Dim stars, i, x, y, half, r, c
Set ctl = CreateObject("Kiv.KivCtl")
Set bitmaps = ctl.Bitmaps

Progress "background, " & W & " x " & H & " pixels: sky, stars, moon and clouds"
Set scene = bitmaps.Create("scene", W, H)
scene.BackColor = sky
scene.Cls
stars = Array(30, 120, 96, 150, 150, 104, 214, 92, 262, 118, 318, 26, 352, 96, 452, 120, 40, 188, 232, 132, 456, 24)
For i = 0 To UBound(stars) Step 2
    x = stars(i) : y = stars(i + 1)
    scene.DrawLine x - 3, y, x + 4, y, RGB(255, 240, 170)
    scene.DrawLine x, y - 3, x, y + 4, RGB(255, 240, 170)
Next
' Ellipses and circles use the surface's own pen and brush: a black outline and a white inside.
scene.DrawCircle 410, 64, 30
scene.DrawCircle 400, 56, 6
scene.DrawCircle 420, 78, 4
scene.DrawElipse 40, 150, 130, 180
scene.DrawElipse 90, 140, 190, 176
scene.DrawElipse 290, 104, 370, 132

Progress "text in three fonts (sizes are in pixels)"
scene.ForeColor = white
scene.FontName = "Arial"
scene.FontSize = 40
scene.FontBold = True
scene.BPrint 24, 14, "KIVDRAW"
scene.ForeColor = RGB(200, 210, 255)
scene.FontName = "Times New Roman"
scene.FontSize = 20
scene.FontBold = False
scene.FontItalic = True
scene.BPrint 26, 62, "a night in an off-screen town"

Progress "ground, road and two houses: boxes and lines"
scene.DrawBox 0, 240, W, H - 240, grass
scene.DrawBox 0, 280, W, 30, road
scene.DrawLine 0, 280, W, 280, RGB(150, 150, 150)
For x = 8 To W Step 40
    scene.DrawLine x, 295, x + 20, 295, RGB(230, 230, 230)
Next
scene.DrawBox 150, 170, 90, 70, RGB(150, 60, 50)
For y = 132 To 169
    half = (y - 132) * 52 \ 37
    scene.DrawLine 195 - half, y, 195 + half + 1, y, RGB(90, 40, 40)
Next
scene.DrawBox 162, 184, 20, 18, lit
scene.DrawBox 208, 184, 20, 18, lit
scene.DrawBox 186, 208, 18, 32, RGB(90, 56, 34)
scene.DrawBox 290, 150, 76, 90, RGB(70, 96, 150)
scene.DrawBox 284, 144, 88, 8, RGB(50, 60, 90)
For r = 0 To 2
    For c = 0 To 2
        If (r + c) Mod 2 = 0 Then
            scene.DrawBox 298 + c * 22, 160 + r * 24, 14, 14, lit
        Else
            scene.DrawBox 298 + c * 22, 160 + r * 24, 14, 14, RGB(40, 48, 70)
        End If
    Next
Next
scene.BackColor = grass
scene.FontName = "Courier New"
scene.FontSize = 14
scene.FontItalic = False
scene.FontUnderline = True
scene.BPrint 12, 252, "Courier New, 14 pixels"

Progress "a sign, copied opaque with the control's Blit"
Set sign = bitmaps.Create("sign", 132, 30)
sign.BackColor = RGB(240, 230, 200)
sign.Cls
sign.ForeColor = RGB(120, 40, 20)
sign.FontName = "Courier New"
sign.FontSize = 16
sign.FontBold = True
sign.BPrint 10, 6, "KIV STREET"
' DrawLine without a colour draws in ForeColor; each line stops one pixel short of its end.
sign.DrawLine 0, 0, 131, 0
sign.DrawLine 131, 0, 131, 29
sign.DrawLine 131, 29, 0, 29
sign.DrawLine 0, 29, 0, 0
ctl.Blit scene.hDC, 330, 246, 132, 30, sign.hDC, 0, 0, &HCC0020

Progress "a car sprite on magenta, copied three times with magenta left out"
Set car = bitmaps.Create("car", 64, 32)
car.BackColor = RGB(255, 0, 255)
car.Cls
car.DrawBox 2, 12, 60, 12, RGB(200, 30, 30)
car.DrawBox 14, 3, 34, 10, RGB(200, 30, 30)
car.DrawBox 18, 5, 12, 7, RGB(170, 210, 240)
car.DrawBox 33, 5, 12, 7, RGB(170, 210, 240)
car.DrawBox 58, 14, 4, 4, RGB(255, 230, 120)
car.DrawCircle 16, 25, 6
car.DrawCircle 48, 25, 6
car.TransparentColor = RGB(255, 0, 255)
car.Copy scene.hDC, 24, 276, True
car.Copy scene.hDC, 196, 276, True
car.Copy scene.hDC, 360, 276, True

Progress "a firefly sprite on black, copied five times: black is the key until TransparentColor is set"
Set firefly = bitmaps.Create("firefly", 13, 13)
firefly.BackColor = 0
firefly.Cls
firefly.DrawCircle 6, 6, 5
firefly.DrawBox 4, 4, 5, 5, RGB(210, 255, 110)
firefly.Copy scene.hDC, 58, 220, True
firefly.Copy scene.hDC, 108, 230, True
firefly.Copy scene.hDC, 248, 224, True
firefly.Copy scene.hDC, 428, 212, True
firefly.Copy scene.hDC, 18, 198, True

Progress "what a script can check of its scene"
Check bitmaps.Count = 4, "four surfaces listed"
Check bitmaps.ItemTxt("car") Is car, "ItemTxt finds the car by its name"
Check bitmaps.ItemTxt("Car") Is Nothing, "names are case-sensitive"
Check scene.Width = W And scene.Height = H, "the scene's size"
Check scene.ForeColor = RGB(200, 210, 255), "ForeColor reads back as given"
Check car.TransparentColor = RGB(255, 0, 255), "the car's key colour"
Check firefly.TransparentColor = 0, "the firefly's key colour is black: never set"
Set pic = scene.Picture
Check pic.Type = 1, "the picture is a bitmap picture"
' Its size is in HIMETRIC (0.01 mm), each side rounded: the proportions agree within that rounding.
Check Abs(pic.Width * H - pic.Height * W) <= W + H, "the picture has the scene's proportions"
Set pic = Nothing

If failures = 0 Then
    Progress "the scene is in the variable scene: " & scene.Width & " x " & scene.Height & " pixels"
    WScript.Echo "PASS"
End If
